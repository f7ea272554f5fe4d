#ifndef VM_XML_XML_TEXT_H_
#define VM_XML_XML_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/code_page.h"

namespace vm {

// Encodes "<", "&" and ">" as "&lt;", "&amp;", "&gt;". With kEscapeQuotes
// apostrophes and double quotes become "&apos;" and "&quot;" as well. With
// kKeepReferences an "&" that starts a well-formed reference ("&name;",
// "&#65;") is copied unchanged. Other bits of `options` are ignored.
std::string EncodeEntities(std::string_view text, uint32_t options);

// Decodes the five named entities (case-sensitive) and numeric references
// "&#65;" / "&#x41;" (the value written as UTF-8, at most 16 bits kept).
// Anything malformed or unknown is copied as it stands.
std::string DecodeEntities(std::string_view bytes);

// "<![CDATA[" + text + "]]>", with every "]]>" in the text split across two
// sections so that the text reads back unchanged.
std::string WrapInCdata(std::string_view text);

// Converts UTF-8 text (up to its first NUL) into the ANSI code page.
// Characters the code page lacks are replaced; empty input gives "".
std::string Utf8ToAnsi(std::string_view utf8, const CodePage& code_page);

}  // namespace vm

#endif  // VM_XML_XML_TEXT_H_
