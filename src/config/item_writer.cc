#include "config/item_writer.h"

#include <string>

#include "config/field_text.h"

namespace vm {

ItemWriter::ItemWriter(XmlDocument* doc, std::string_view list) : doc_(doc) {
  if (!doc->MoveTo(0, 0, 0) || !doc->SeekElement("database") ||
      !doc->EnterElement() || !doc->SeekElement(list)) {
    return;
  }
  if (!doc->NewElement("item", "", kAsChild) || !doc->EnterElement()) return;
  opened_ = true;
  layout_ = doc->LastInsertion();
}

void ItemWriter::Text(std::string_view name, std::string_view text) {
  text = UpToNul(text);
  if (!text.empty()) Add(name, text);
}

void ItemWriter::Always(std::string_view name, std::string_view text) {
  Add(name, UpToNul(text));
}

void ItemWriter::Number(std::string_view name, int64_t value) {
  if (value != 0) Add(name, std::to_string(value));
}

void ItemWriter::AlwaysNumber(std::string_view name, int64_t value) {
  Add(name, std::to_string(value));
}

AddedItem ItemWriter::Written() const {
  if (!opened_) return AddedItem{};
  const ElementRecord& element = doc_->Element(item());
  return {doc_->DocumentText().substr(element.start, element.length), layout_};
}

void ItemWriter::Add(std::string_view name, std::string_view text) {
  if (opened_ && ok_) ok_ = doc_->NewElement(name, text, kAsChild);
}

}  // namespace vm
