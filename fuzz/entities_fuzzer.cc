// Entity and CDATA coding: whatever the text, encoding then decoding gives
// it back, and an element written with either form reads back unchanged.
// Decoding arbitrary bytes must stay in bounds.

#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "xml/xml_document.h"
#include "xml/xml_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vm;
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string decoded = DecodeEntities(text);
  // Every reference is at least as long as what it stands for.
  FUZZ_CHECK(decoded.size() <= text.size() + 1);

  for (uint32_t options : {0u, kEscapeQuotes}) {
    const std::string encoded = EncodeEntities(text, options);
    FUZZ_CHECK(encoded.find('<') == std::string::npos);
    FUZZ_CHECK(encoded.find('>') == std::string::npos);
    FUZZ_CHECK(DecodeEntities(encoded) == text);
  }
  // Keeping references never decodes less than it was given.
  EncodeEntities(text, kKeepReferences | kEscapeQuotes);

  if (text.find('\0') != std::string::npos) return 0;
  const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
  for (bool cdata : {false, true}) {
    XmlDocument doc;
    const std::string body =
        cdata ? WrapInCdata(text) : EncodeEntities(text, 0);
    FUZZ_CHECK(doc.LoadText("<a>" + body + "</a>"));
    if (!blank || cdata) FUZZ_CHECK(doc.ElementText(1) == text);
  }
  return 0;
}
