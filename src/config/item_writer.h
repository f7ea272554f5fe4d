#ifndef VM_CONFIG_ITEM_WRITER_H_
#define VM_CONFIG_ITEM_WRITER_H_

#include <cstdint>
#include <string_view>

#include "config/added_items.h"
#include "xml/xml_document.h"

namespace vm {

// Writes one new item at the end of a list of a store's document (the
// list element `list` under "database"), field by field in the order the
// target's own tools write them, and records what it wrote, so that the
// addition can be saved, merged and taken out again. Texts are cut at a
// NUL, as the target's fields hold them.
class ItemWriter {
 public:
  // Opens the new item; opened() is false when the document has no such
  // list (or the item could not be made), and the fields then write
  // nothing.
  ItemWriter(XmlDocument* doc, std::string_view list);

  // A text field, left out when empty; Always writes it even then.
  void Text(std::string_view name, std::string_view text);
  void Always(std::string_view name, std::string_view text);
  // A number field, left out when 0; AlwaysNumber writes it even then.
  void Number(std::string_view name, int64_t value);
  void AlwaysNumber(std::string_view name, int64_t value);

  bool opened() const { return opened_; }
  // Every field so far was written.
  bool ok() const { return opened_ && ok_; }
  // The item's position in the document (when opened; the document stays
  // on it while the fields are written).
  int32_t item() const { return doc_->CurrentPosition(); }

  // The item as written so far: its bytes and what the insertion wrote
  // around them. Call after the last field.
  AddedItem Written() const;

 private:
  void Add(std::string_view name, std::string_view text);

  XmlDocument* doc_;
  bool opened_ = false;
  bool ok_ = true;
  InsertionLayout layout_{};
};

}  // namespace vm

#endif  // VM_CONFIG_ITEM_WRITER_H_
