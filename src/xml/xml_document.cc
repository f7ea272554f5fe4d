#include "xml/xml_document.h"

#include <algorithm>
#include <utility>

namespace vm {

XmlDocument::XmlDocument() { LoadText(nullptr); }

XmlDocument::~XmlDocument() = default;

XmlDocument::XmlDocument(const XmlDocument& other) { CopyFrom(other); }

XmlDocument& XmlDocument::operator=(const XmlDocument& other) {
  CopyFrom(other);
  return *this;
}

XmlDocument::XmlDocument(XmlDocument&& other) { *this = std::move(other); }

XmlDocument& XmlDocument::operator=(XmlDocument&& other) {
  if (this == &other) return *this;
  text_ = std::move(other.text_);
  error_ = std::move(other.error_);
  parent_ = other.parent_;
  current_ = other.current_;
  child_ = other.child_;
  next_free_ = other.next_free_;
  table_ = std::move(other.table_);
  last_insertion_ = std::move(other.last_insertion_);
  other.LoadText(nullptr);
  return *this;
}

bool XmlDocument::LoadText(const char* text) {
  return LoadText(std::string(text != nullptr ? text : ""));
}

bool XmlDocument::LoadText(std::string text) {
  error_.clear();
  if (text.size() >= kMaxTextLength) {
    text_.clear();
    Reparse();
    error_ = "Document too large";
    return false;
  }
  text_ = std::move(text);
  Reparse();
  return CheckWellFormed();
}

bool XmlDocument::CheckWellFormed() const {
  if (table_.Capacity() == 0) return false;
  const ElementRecord& document = Rec(0);
  return (document.flags & kDocumentHasErrors) == 0 &&
         document.first_child != 0 && Rec(document.first_child).next == 0;
}

void XmlDocument::CopyFrom(const XmlDocument& other) {
  if (this == &other) return;
  parent_ = other.parent_;
  current_ = other.current_;
  child_ = other.child_;
  next_free_ = other.next_free_;
  text_ = other.text_;
  error_ = other.error_;
  last_insertion_ = other.last_insertion_;
  table_.CopyFrom(other.table_, other.next_free_);
}

int32_t XmlDocument::TakeRecord() {
  if (next_free_ == table_.Capacity()) {
    table_.Grow(next_free_ + next_free_ / 2);
  }
  int32_t n = next_free_++;
  Rec(n) = ElementRecord{};
  return n;
}

}  // namespace vm
