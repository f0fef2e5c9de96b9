// Streaming reading of an XML document held in memory, by a maintained parser behind this
// header (expat on POSIX systems, XmlLite on Windows). The reader calls back for each start tag;
// it never loads anything from outside the document: a document type declaration may name an
// external DTD, which is not read, and one with an internal subset (where entities are declared)
// is refused, so no entity of the document's own making is ever expanded.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Names and values are UTF-8, zero-terminated, with character references resolved; they are
// valid only during the call.
struct XmlAttribute {
  const char* name;
  const char* value;
};

struct XmlStartTag {
  const char* name;
  const XmlAttribute* attributes;
  size_t attribute_count;
  uint32_t depth;  // 0 for the root element, 1 for its children, ...
  uint32_t line;   // of the tag, counted from 1
};

// Called for each start tag in document order (an empty element too). Returns false to stop
// reading; the reason is the caller's to keep.
using XmlStartFn = bool (*)(void* context, const XmlStartTag& tag);

enum class XmlResult : uint8_t {
  done,       // the whole document was read and is well-formed
  stopped,    // the callback returned false
  malformed,  // not well-formed, or refused (see above): `line` and `what` say where and why
};

struct XmlProblem {
  uint32_t line = 0;
  std::string what;  // short, lower case, no line number: "mismatched tag"
};

// Reads `size` bytes of `text` (the encoding declared in the document, UTF-8 by default).
XmlResult plat_xml_read(const char* text, size_t size, XmlStartFn on_start, void* context,
                        XmlProblem& problem);

// The attribute's value, or nullptr when the tag has none of that name.
const char* xml_attribute(const XmlStartTag& tag, const char* name);
