#include "config/added_items.h"

#include <unordered_map>
#include <utility>

#include "config/config_file.h"

namespace vm {

PendingRemovals::PendingRemovals(std::string list,
                                 std::vector<std::string> key_fields,
                                 const NameOps* names)
    : list_(std::move(list)),
      key_fields_(std::move(key_fields)),
      names_(names) {}

std::vector<RemovalOutcome> PendingRemovals::Request(
    XmlDocument* doc, const std::vector<AddedItem>& items) {
  const size_t first = queued_.size();
  queued_.insert(queued_.end(), items.begin(), items.end());
  outcomes_.resize(queued_.size(), RemovalOutcome::kNotFound);
  if (!Apply(doc, first)) {
    // The engine refused the edit: nothing was taken out.
    for (size_t i = first; i < outcomes_.size(); ++i) {
      if (outcomes_[i] == RemovalOutcome::kRemoved) {
        outcomes_[i] = RemovalOutcome::kChanged;
      }
    }
  }
  return {outcomes_.begin() + static_cast<std::ptrdiff_t>(first),
          outcomes_.end()};
}

bool PendingRemovals::Reapply(XmlDocument* doc) {
  return queued_.empty() || Apply(doc, 0);
}

void PendingRemovals::Saved() {
  saved_.insert(saved_.end(), outcomes_.begin(), outcomes_.end());
  queued_.clear();
  outcomes_.clear();
}

std::vector<RemovalOutcome> PendingRemovals::TakeSaved() {
  std::vector<RemovalOutcome> taken;
  taken.swap(saved_);
  return taken;
}

std::string ItemKeyOf(const XmlDocument& doc, int32_t item,
                      const std::vector<std::string>& key_fields,
                      const NameOps& names) {
  std::string key;
  for (const std::string& field : key_fields) {
    const int32_t child = FirstChildNamed(doc, item, field);
    std::string text = child == 0 ? std::string() : doc.ElementText(child);
    if (key.empty() && text.empty()) return "";
    key += names.Fold(text);
    key.push_back('\0');
  }
  return key;
}

std::string RecordedItemKey(const std::string& bytes,
                            const std::vector<std::string>& key_fields,
                            const NameOps& names) {
  XmlDocument recorded;
  if (!recorded.LoadText(bytes) || recorded.ElementName(1) != "item") {
    return std::string();
  }
  return ItemKeyOf(recorded, 1, key_fields, names);
}

std::unordered_map<std::string, std::vector<int32_t>> ItemsByKey(
    const XmlDocument& doc, std::string_view list,
    const std::vector<std::string>& key_fields, const NameOps& names) {
  std::unordered_map<std::string, std::vector<int32_t>> by_key;
  const int32_t at = FindList(doc, list);
  for (int32_t i = at == 0 ? 0 : doc.Element(at).first_child; i != 0;
       i = doc.Element(i).next) {
    if (doc.ElementName(i) == "item") {
      by_key[ItemKeyOf(doc, i, key_fields, names)].push_back(i);
    }
  }
  return by_key;
}

// Settles outcomes_[first..] against `doc` and takes out the items that
// are still exactly as recorded.
bool PendingRemovals::Apply(XmlDocument* doc, size_t first) {
  const int32_t list = FindList(*doc, list_);
  auto by_key = ItemsByKey(*doc, list_, key_fields_, *names_);
  std::vector<ElementRemoval> removals;
  for (size_t q = first; q < queued_.size(); ++q) {
    const std::string key =
        RecordedItemKey(queued_[q].element, key_fields_, *names_);
    auto found = by_key.find(key);
    if (list == 0 || key.empty()) {
      outcomes_[q] = RemovalOutcome::kNotFound;
    } else if (found == by_key.end() || found->second.empty()) {
      outcomes_[q] = RemovalOutcome::kGone;
    } else {
      outcomes_[q] = RemovalOutcome::kChanged;
      // The last of the same bytes: the run appended its items.
      std::vector<int32_t>& items = found->second;
      for (size_t k = items.size(); k-- > 0;) {
        const ElementRecord& r = doc->Element(items[k]);
        if (doc->DocumentText().compare(r.start, r.length,
                                        queued_[q].element) == 0) {
          outcomes_[q] = RemovalOutcome::kRemoved;
          removals.push_back({items[k], queued_[q].layout});
          items.erase(items.begin() + static_cast<std::ptrdiff_t>(k));
          break;
        }
      }
    }
  }
  return removals.empty() || doc->RemoveElements(removals);
}

}  // namespace vm
