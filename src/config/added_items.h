#ifndef VM_CONFIG_ADDED_ITEMS_H_
#define VM_CONFIG_ADDED_ITEMS_H_

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "util/name_ops.h"
#include "xml/xml_document.h"

namespace vm {

// An item a store added to one of its file's lists, as the save wrote it:
// the item's bytes ("<item>" through "</item>") and what the insertion
// wrote around them. Taking exactly these bytes out again gives back the
// file as it was before the addition.
struct AddedItem {
  std::string element;
  InsertionLayout layout;
  bool operator==(const AddedItem&) const = default;
};

// An addition a save wrote: the name (and, for an account, the domain) as
// given to AddDomain or AddUser, and the item's bytes.
struct SavedAddition {
  std::string name;
  std::string domain;  // empty for a domain
  AddedItem item;
};

// An addition a store holds until a save writes it: the name (and, for an
// account, the domain) as given, and the item written for it into the
// document (empty when the last merge found it in the file already). A
// store's own record of an addition extends it with what it needs to write
// the item again.
struct PendingAddition {
  std::string name;
  std::string domain;  // empty for a domain
  AddedItem written;
};

// After a save: appends the additions of `pending` that wrote an item to
// `saved`, in order, and empties `pending`.
template <typename PendingList>
void MoveWrittenAdditions(PendingList* pending,
                          std::vector<SavedAddition>* saved) {
  for (PendingAddition& added : *pending) {
    if (added.written.element.empty()) continue;
    saved->push_back({std::move(added.name), std::move(added.domain),
                      std::move(added.written)});
  }
  pending->clear();
}

// The additions of `pending` that hold an item, as a save is about to
// write them.
template <typename PendingList>
std::vector<SavedAddition> WrittenAdditions(const PendingList& pending) {
  std::vector<SavedAddition> about;
  for (const PendingAddition& added : pending) {
    if (!added.written.element.empty()) {
      about.push_back({added.name, added.domain, added.written});
    }
  }
  return about;
}

// The key an item of a list is named by: the texts of its `key_fields`
// children, folded, each followed by a NUL (names hold none); empty when
// the first key field is missing or empty.
std::string ItemKeyOf(const XmlDocument& doc, int32_t item,
                      const std::vector<std::string>& key_fields,
                      const NameOps& names);

// The key of an item recorded by its bytes ("<item>" through "</item>");
// empty when the bytes are no item.
std::string RecordedItemKey(const std::string& bytes,
                            const std::vector<std::string>& key_fields,
                            const NameOps& names);

// The items of the list element `list` under "database" by their keys
// (ItemKeyOf), each key's items in file order; empty when there is no
// such list.
std::unordered_map<std::string, std::vector<int32_t>> ItemsByKey(
    const XmlDocument& doc, std::string_view list,
    const std::vector<std::string>& key_fields, const NameOps& names);

// What became of one requested removal.
enum class RemovalOutcome {
  kRemoved,   // the item, its bytes unchanged, was taken out
  kGone,      // no item of that name is left: someone took it out already
  kChanged,   // an item of that name holds other bytes now: kept
  kNotFound,  // the file has no such list, or the bytes name no item
};

// The removals a store has been asked for and not yet saved, with their
// outcomes against the document they were last applied to. An item is
// named by the texts of its key fields (for an account its name and
// domain elements), compared with ASCII letters folded; it is taken out
// only when an item of that name holds exactly the recorded bytes.
class PendingRemovals {
 public:
  // `list` is the list's element under "database"; `key_fields` the
  // children that name an item. `names` must outlive this object.
  PendingRemovals(std::string list, std::vector<std::string> key_fields,
                  const NameOps* names);

  // Queues the items (newest addition first) and takes them out of `doc`.
  // Returns their outcomes against `doc`.
  std::vector<RemovalOutcome> Request(XmlDocument* doc,
                                      const std::vector<AddedItem>& items);

  // Takes every queued removal out of `doc`, the file as another writer
  // left it, and settles their outcomes against it. False when the
  // document would not stay well-formed (then `doc` is unchanged).
  bool Reapply(XmlDocument* doc);

  // The queued removals are in the file: their outcomes are final.
  void Saved();

  // The final outcomes of the removals saved since the last call, in the
  // order they were requested.
  std::vector<RemovalOutcome> TakeSaved();

 private:
  bool Apply(XmlDocument* doc, size_t first);

  std::string list_;
  std::vector<std::string> key_fields_;
  const NameOps* names_;
  std::vector<AddedItem> queued_;
  std::vector<RemovalOutcome> outcomes_;  // one per queued item
  std::vector<RemovalOutcome> saved_;
};

}  // namespace vm

#endif  // VM_CONFIG_ADDED_ITEMS_H_
