// What the XML reader offers on every operating system alike.
#include "platform/xml.h"

#include <cstring>

const char* xml_attribute(const XmlStartTag& tag, const char* name) {
  for (size_t i = 0; i < tag.attribute_count; ++i) {
    if (std::strcmp(tag.attributes[i].name, name) == 0) return tag.attributes[i].value;
  }
  return nullptr;
}
