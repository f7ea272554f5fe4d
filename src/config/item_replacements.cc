#include "config/item_replacements.h"

#include <algorithm>
#include <utility>

#include "config/added_items.h"

namespace vm {

PendingReplacements::PendingReplacements(std::string list,
                                         std::vector<std::string> key_fields,
                                         const NameOps* names)
    : list_(std::move(list)),
      key_fields_(std::move(key_fields)),
      names_(names) {}

std::vector<ReplacementOutcome> PendingReplacements::Request(
    XmlDocument* doc, const std::vector<ItemReplacement>& items) {
  const size_t first = queued_.size();
  queued_.insert(queued_.end(), items.begin(), items.end());
  outcomes_.resize(queued_.size(), ReplacementOutcome::kGone);
  if (!Apply(doc, first)) {
    // The edit would have broken the document: nothing was replaced.
    for (size_t i = first; i < outcomes_.size(); ++i) {
      if (outcomes_[i] == ReplacementOutcome::kReplaced) {
        outcomes_[i] = ReplacementOutcome::kChanged;
      }
    }
  }
  return {outcomes_.begin() + static_cast<std::ptrdiff_t>(first),
          outcomes_.end()};
}

bool PendingReplacements::Reapply(XmlDocument* doc) {
  return queued_.empty() || Apply(doc, 0);
}

void PendingReplacements::Saved() {
  saved_.insert(saved_.end(), outcomes_.begin(), outcomes_.end());
  queued_.clear();
  outcomes_.clear();
}

std::vector<ReplacementOutcome> PendingReplacements::TakeSaved() {
  std::vector<ReplacementOutcome> taken;
  taken.swap(saved_);
  return taken;
}

// Settles outcomes_[first..] against `doc` and splices the new bytes of
// the items still exactly as expected into its text, which is then parsed
// again; every other byte stays where it was.
bool PendingReplacements::Apply(XmlDocument* doc, size_t first) {
  auto by_key = ItemsByKey(*doc, list_, key_fields_, *names_);
  std::vector<std::pair<const ElementRecord*, const std::string*>> splices;
  const std::string& text = doc->DocumentText();
  for (size_t q = first; q < queued_.size(); ++q) {
    const ItemReplacement& r = queued_[q];
    const std::string key = RecordedItemKey(r.from, key_fields_, *names_);
    auto found = by_key.find(key);
    if (key.empty() || found == by_key.end() || found->second.empty()) {
      outcomes_[q] = ReplacementOutcome::kGone;
      continue;
    }
    outcomes_[q] = ReplacementOutcome::kChanged;
    std::vector<int32_t>& items = found->second;
    // The last item of those bytes, as a removal takes it.
    for (size_t k = items.size(); k-- > 0;) {
      const ElementRecord& e = doc->Element(items[k]);
      if (text.compare(e.start, e.length, r.from) == 0) {
        outcomes_[q] = ReplacementOutcome::kReplaced;
        splices.emplace_back(&e, &r.to);
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(k));
        break;
      }
      if (text.compare(e.start, e.length, r.to) == 0) {
        outcomes_[q] = ReplacementOutcome::kAlready;
      }
    }
  }
  if (splices.empty()) return true;
  // From the end of the text, so that each offset still holds.
  std::sort(splices.begin(), splices.end(), [](const auto& a, const auto& b) {
    return a.first->start > b.first->start;
  });
  std::string edited = text;
  for (const auto& [element, to] : splices) {
    edited.replace(static_cast<size_t>(element->start),
                   static_cast<size_t>(element->length), *to);
  }
  XmlDocument fresh;
  if (!fresh.LoadText(std::move(edited))) return false;
  *doc = std::move(fresh);
  return true;
}

}  // namespace vm
