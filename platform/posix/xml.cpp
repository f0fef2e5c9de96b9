// XML reading on POSIX systems with expat. expat reads no external DTD or entity unless asked
// to (nothing here asks); a document type with an internal subset is stopped at its start, so
// no declared entity is ever expanded.
#include "platform/xml.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

// Pieces handed to expat at a time: its length argument is an int.
constexpr size_t kPiece = 1u << 20;

struct Reading {
  XML_Parser parser = nullptr;
  XmlStartFn on_start = nullptr;
  void* context = nullptr;
  XmlProblem* problem = nullptr;
  std::vector<XmlAttribute> attributes;
  uint32_t depth = 0;
  bool stopped = false;  // by the caller's callback
  bool refused = false;  // by this reader: `problem` is set
};

uint32_t current_line(XML_Parser parser) {
  XML_Size line = XML_GetCurrentLineNumber(parser);
  return line > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(line);
}

void XMLCALL on_element_start(void* data, const XML_Char* name, const XML_Char** pairs) {
  auto& reading = *static_cast<Reading*>(data);
  reading.attributes.clear();
  for (size_t i = 0; pairs[i] != nullptr; i += 2) {
    reading.attributes.push_back({pairs[i], pairs[i + 1]});
  }
  XmlStartTag tag{name, reading.attributes.data(), reading.attributes.size(), reading.depth,
                  current_line(reading.parser)};
  ++reading.depth;
  if (!reading.on_start(reading.context, tag)) {
    reading.stopped = true;
    XML_StopParser(reading.parser, XML_FALSE);
  }
}

void XMLCALL on_element_end(void* data, const XML_Char* /*name*/) {
  auto& reading = *static_cast<Reading*>(data);
  if (reading.depth > 0) --reading.depth;
}

void XMLCALL on_doctype_start(void* data, const XML_Char* /*name*/, const XML_Char* /*sysid*/,
                              const XML_Char* /*pubid*/, int has_internal_subset) {
  auto& reading = *static_cast<Reading*>(data);
  if (!has_internal_subset) return;
  reading.refused = true;
  reading.problem->line = current_line(reading.parser);
  reading.problem->what = "a document type with its own declarations is not accepted";
  XML_StopParser(reading.parser, XML_FALSE);
}

}  // namespace

XmlResult plat_xml_read(const char* text, size_t size, XmlStartFn on_start, void* context,
                        XmlProblem& problem) {
  problem = XmlProblem{};
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (!parser) {
    problem.what = "out of memory";
    return XmlResult::malformed;
  }
  Reading reading;
  reading.parser = parser;
  reading.on_start = on_start;
  reading.context = context;
  reading.problem = &problem;
  XML_SetUserData(parser, &reading);
  XML_SetElementHandler(parser, on_element_start, on_element_end);
  XML_SetStartDoctypeDeclHandler(parser, on_doctype_start);
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);

  XML_Status status = XML_STATUS_OK;
  size_t done = 0;
  do {
    size_t piece = std::min(size - done, kPiece);
    bool last = done + piece == size;
    status = XML_Parse(parser, text + done, static_cast<int>(piece), last ? XML_TRUE : XML_FALSE);
    done += piece;
  } while (status == XML_STATUS_OK && done < size);

  XmlResult result = XmlResult::done;
  if (reading.stopped) {
    result = XmlResult::stopped;
  } else if (reading.refused) {
    result = XmlResult::malformed;
  } else if (status != XML_STATUS_OK) {
    problem.line = current_line(parser);
    problem.what = XML_ErrorString(XML_GetErrorCode(parser));
    result = XmlResult::malformed;
  }
  XML_ParserFree(parser);
  return result;
}
