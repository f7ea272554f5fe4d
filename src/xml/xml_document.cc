#include "xml/xml_document.h"

namespace vm {

// Placeholder bodies; the parser and the editor follow.
XmlDocument::XmlDocument() { LoadText(nullptr); }
XmlDocument::~XmlDocument() = default;
XmlDocument::XmlDocument(const XmlDocument& other) { CopyFrom(other); }
XmlDocument& XmlDocument::operator=(const XmlDocument& other) {
  if (this != &other) CopyFrom(other);
  return *this;
}
bool XmlDocument::LoadText(const char* text) {
  return LoadText(std::string(text ? text : ""));
}
bool XmlDocument::LoadText(std::string text) {
  text_ = std::move(text);
  error_ = "Empty document";
  return false;
}
bool XmlDocument::CheckWellFormed() const { return false; }
void XmlDocument::CopyFrom(const XmlDocument& other) {
  text_ = other.text_;
  error_ = other.error_;
}
bool XmlDocument::MoveTo(int32_t, int32_t, int32_t) { return false; }
bool XmlDocument::SeekElement(std::string_view) { return false; }
bool XmlDocument::SeekChild(std::string_view) { return false; }
bool XmlDocument::EnterElement() { return false; }
std::string XmlDocument::ElementName(int32_t) const { return {}; }
std::string XmlDocument::ElementText(int32_t) const { return {}; }
bool XmlDocument::NewElement(std::string_view, std::string_view, uint32_t) {
  return false;
}
bool XmlDocument::NewElementNumber(std::string_view, int32_t, uint32_t) {
  return false;
}

}  // namespace vm
