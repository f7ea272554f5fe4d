#ifndef VM_CONFIG_ITEM_REPLACEMENTS_H_
#define VM_CONFIG_ITEM_REPLACEMENTS_H_

#include <string>
#include <vector>

#include "util/name_ops.h"
#include "xml/xml_document.h"

namespace vm {

// An item of a list to be given other bytes: the item of that name (read
// from `from`'s key fields) whose bytes are exactly `from` becomes `to`.
// Both are whole items, "<item>" through "</item>"; every byte of the file
// outside the item stays as it is.
struct ItemReplacement {
  std::string from;
  std::string to;
  bool operator==(const ItemReplacement&) const = default;
};

// What became of one requested replacement.
enum class ReplacementOutcome {
  kReplaced,  // the item held exactly `from`; it holds `to` now
  kAlready,   // the item holds `to` already: nothing to do
  kChanged,   // the item of that name holds other bytes: left as it is
  kGone,      // no item of that name (or `from` names none)
};

// The replacements a store has been asked for and not yet saved, with
// their outcomes against the document they were last applied to; the
// counterpart of PendingRemovals for items edited in place. Items are
// named as PendingRemovals names them.
class PendingReplacements {
 public:
  // `list` is the list's element under "database"; `key_fields` the
  // children that name an item. `names` must outlive this object.
  PendingReplacements(std::string list, std::vector<std::string> key_fields,
                      const NameOps* names);

  // Queues the replacements and applies them to `doc`. Returns their
  // outcomes against `doc`.
  std::vector<ReplacementOutcome> Request(
      XmlDocument* doc, const std::vector<ItemReplacement>& items);

  // Applies every queued replacement to `doc`, the file as another writer
  // left it, and settles their outcomes against it. False when the
  // document would not stay well-formed (then `doc` is unchanged).
  bool Reapply(XmlDocument* doc);

  // The queued replacements are in the file: their outcomes are final.
  void Saved();

  // The final outcomes of the replacements saved since the last call, in
  // the order they were requested.
  std::vector<ReplacementOutcome> TakeSaved();

 private:
  bool Apply(XmlDocument* doc, size_t first);

  std::string list_;
  std::vector<std::string> key_fields_;
  const NameOps* names_;
  std::vector<ItemReplacement> queued_;
  std::vector<ReplacementOutcome> outcomes_;  // one per queued item
  std::vector<ReplacementOutcome> saved_;
};

}  // namespace vm

#endif  // VM_CONFIG_ITEM_REPLACEMENTS_H_
