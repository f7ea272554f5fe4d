#include "xml/xml_text.h"

namespace vm {

// Placeholder bodies; the entity coder follows.
std::string EncodeEntities(std::string_view text, uint32_t) {
  return std::string(text);
}
std::string DecodeEntities(std::string_view bytes) {
  return std::string(bytes);
}
std::string WrapInCdata(std::string_view text) {
  return "<![CDATA[" + std::string(text) + "]]>";
}
std::string Utf8ToAnsi(std::string_view utf8, const CodePage& code_page) {
  return code_page.ToAnsi(std::string(utf8.substr(0, utf8.find('\0'))));
}

}  // namespace vm
