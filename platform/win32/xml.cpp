// XML reading on Windows with XmlLite. mingw-w64 has its header but no import library, so the
// reader comes from xmllite.dll at run time. The document reaches it as a memory stream
// (shlwapi).
//
// Published lists often start with a document type that names an external DTD; XmlLite reads
// those only with DTD processing on, which also makes it take an internal subset and expand
// the entities declared there. So DTD processing is on with no resolver (nothing external is
// ever read), and a document type with an internal subset is refused here before XmlLite sees
// it, as expat's reader refuses it on other systems: no entity can be declared at all.
#include <windows.h>
// windows.h first: the COM and shell headers need its types.
#include <objidl.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/xml.h"

namespace {

using CreateXmlReaderFn = HRESULT(WINAPI*)(REFIID riid, void** reader, IMalloc* malloc);

// Code units of the text as 16-bit values in the byte order its start shows (UTF-16 with or
// without a byte-order mark), or one byte each.
struct Units {
  const unsigned char* bytes;
  size_t count;
  int width;        // 1 or 2
  bool big_endian;  // for width 2
  unsigned at(size_t i) const {
    if (width == 1) return bytes[i];
    unsigned first = bytes[2 * i];
    unsigned second = bytes[2 * i + 1];
    return big_endian ? (first << 8 | second) : (second << 8 | first);
  }
};

Units units_of(const char* text, size_t size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  Units units{bytes, size, 1, false};
  if (size >= 2) {
    if ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == '<' && bytes[1] == 0)) {
      units = Units{bytes, size / 2, 2, false};
    } else if ((bytes[0] == 0xFE && bytes[1] == 0xFF) || (bytes[0] == 0 && bytes[1] == '<')) {
      units = Units{bytes, size / 2, 2, true};
    }
  }
  return units;
}

// Whether a "<!DOCTYPE" anywhere in the text opens an internal subset ('[' before its closing
// '>', quoted literals passed over), and the line where it starts. One inside a comment counts
// too: refusing such a list is the safe mistake.
bool has_internal_subset(const char* text, size_t size, uint32_t& line) {
  static constexpr char kOpen[] = "<!DOCTYPE";
  constexpr size_t kOpenLength = sizeof kOpen - 1;
  Units units = units_of(text, size);
  line = 1;
  for (size_t i = 0; i < units.count; ++i) {
    unsigned c = units.at(i);
    if (c == '\n') ++line;
    if (c != '<' || units.count - i < kOpenLength) continue;
    size_t k = 1;
    while (k < kOpenLength && units.at(i + k) == static_cast<unsigned char>(kOpen[k])) ++k;
    if (k < kOpenLength) continue;
    unsigned quote = 0;
    for (size_t j = i + kOpenLength; j < units.count; ++j) {
      unsigned d = units.at(j);
      if (quote != 0) {
        if (d == quote) quote = 0;
      } else if (d == '"' || d == '\'') {
        quote = d;
      } else if (d == '[') {
        return true;
      } else if (d == '>') {
        break;
      }
    }
  }
  return false;
}

void to_utf8(const WCHAR* text, UINT length, std::string& out) {
  out.clear();
  if (!text || length == 0 || length > INT_MAX) return;
  int size =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  out.resize(static_cast<size_t>(size));
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                      nullptr);
}

const char* error_text(unsigned long error) {
  switch (error) {
    case MX_E_INPUTEND:
      return "unexpected end of the document";
    case MX_E_ENCODING:
    case MX_E_ENCODINGSWITCH:
    case MX_E_ENCODINGSIGNATURE:
    case XML_E_INVALIDENCODING:
      return "unknown or wrong encoding";
    case WC_E_ELEMENTMATCH:
      return "mismatched tag";
    case WC_E_UNIQUEATTRIBUTE:
      return "duplicate attribute";
    case WC_E_UNDECLAREDENTITY:
      return "undefined entity";
    case WC_E_XMLCHARACTER:
    case XML_E_INVALID_DECIMAL:
    case XML_E_INVALID_HEXIDECIMAL:
    case XML_E_INVALID_UNICODE:
      return "not a valid character";
    case WC_E_NAMECHARACTER:
    case WC_E_NAME:
      return "not a valid name";
    case WC_E_QUOTE:
      return "an attribute value without quotes";
    case SC_E_MAXENTITYEXPANSION:
      return "entities expand too far";
    case SC_E_MAXELEMENTDEPTH:
      return "elements nest too deep";
    case WC_E_DTDPROHIBITED:
      return "a document type is not accepted here";
    default:
      return "syntax error";
  }
}

void set_problem(XmlProblem& problem, IXmlReader* reader, const char* what) {
  UINT line = 0;
  if (reader) reader->GetLineNumber(&line);
  problem.line = line == 0 ? 1 : line;
  problem.what = what;
}

// Reads the element the reader stands on, its attributes included, and hands it on: done when
// the reading goes on.
XmlResult report_element(IXmlReader* reader, uint32_t depth, XmlStartFn on_start, void* context,
                         XmlProblem& problem) {
  const WCHAR* text = nullptr;
  UINT length = 0;
  UINT line = 0;
  std::string name;
  reader->GetQualifiedName(&text, &length);
  to_utf8(text, length, name);
  reader->GetLineNumber(&line);
  std::vector<std::string> strings;  // name, value, name, value, ...
  for (HRESULT more = reader->MoveToFirstAttribute(); more == S_OK;
       more = reader->MoveToNextAttribute()) {
    std::string attribute;
    reader->GetQualifiedName(&text, &length);
    to_utf8(text, length, attribute);
    strings.push_back(std::move(attribute));
    std::string value;
    reader->GetValue(&text, &length);
    to_utf8(text, length, value);
    strings.push_back(std::move(value));
  }
  reader->MoveToElement();
  std::vector<XmlAttribute> attributes;
  for (size_t i = 0; i + 1 < strings.size(); i += 2) {
    // Not every XmlLite refuses a repeated attribute (wine's does not); which of the two
    // counts would be a guess.
    for (const XmlAttribute& before : attributes) {
      if (strings[i] == before.name) {
        problem.line = line;
        problem.what = error_text(WC_E_UNIQUEATTRIBUTE);
        return XmlResult::malformed;
      }
    }
    attributes.push_back({strings[i].c_str(), strings[i + 1].c_str()});
  }
  XmlStartTag tag{name.c_str(), attributes.data(), attributes.size(), depth, line};
  return on_start(context, tag) ? XmlResult::done : XmlResult::stopped;
}

XmlResult read_all(IXmlReader* reader, XmlStartFn on_start, void* context, XmlProblem& problem) {
  uint32_t depth = 0;
  XmlNodeType type = XmlNodeType_None;
  HRESULT result = S_OK;
  while ((result = reader->Read(&type)) == S_OK) {
    if (type == XmlNodeType_Element) {
      // An empty element has no end tag to come; asked before the attributes move the reader.
      bool empty = reader->IsEmptyElement() != FALSE;
      XmlResult element = report_element(reader, depth, on_start, context, problem);
      if (element != XmlResult::done) return element;
      if (!empty) ++depth;
    } else if (type == XmlNodeType_EndElement && depth > 0) {
      --depth;
    }
  }
  if (result == S_FALSE) return XmlResult::done;
  set_problem(problem, reader, error_text(static_cast<unsigned long>(result)));
  return XmlResult::malformed;
}

}  // namespace

XmlResult plat_xml_read(const char* text, size_t size, XmlStartFn on_start, void* context,
                        XmlProblem& problem) {
  problem = XmlProblem{};
  uint32_t line = 0;
  if (has_internal_subset(text, size, line)) {
    problem.line = line;
    problem.what = "a document type with its own declarations is not accepted";
    return XmlResult::malformed;
  }
  if (size == 0 || size > UINT_MAX) {
    problem.line = 1;
    problem.what = size == 0 ? "the document is empty" : "the document is too large";
    return XmlResult::malformed;
  }
  HMODULE library = LoadLibraryW(L"xmllite.dll");
  FARPROC found = library ? GetProcAddress(library, "CreateXmlReader") : nullptr;
  auto create = reinterpret_cast<CreateXmlReaderFn>(reinterpret_cast<void*>(found));
  IXmlReader* reader = nullptr;
  IStream* stream = nullptr;
  XmlResult result = XmlResult::malformed;
  if (!create || FAILED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(&reader), nullptr))) {
    problem.line = 1;
    problem.what = "the system's XML reader (xmllite.dll) is not available";
  } else if (!(stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(text),
                                          static_cast<UINT>(size)))) {
    problem.line = 1;
    problem.what = "out of memory";
  } else {
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Parse);
    reader->SetProperty(XmlReaderProperty_XmlResolver, 0);
    if (FAILED(reader->SetInput(stream))) {
      set_problem(problem, nullptr, "the document cannot be read");
    } else {
      result = read_all(reader, on_start, context, problem);
    }
  }
  if (reader) reader->Release();
  if (stream) stream->Release();
  if (library) FreeLibrary(library);
  return result;
}
