#include "migrate/mirror_proofs.h"

#include <algorithm>

#include "migrate/mailbox_use.h"
#include "migrate/undo_files.h"
#include "platform/file_system.h"

namespace vm {

void MirrorProofs::AddFile(std::string_view key, uint64_t size,
                           std::string_view md5,
                           std::optional<FileStamp> stamp) {
  Proof proof;
  proof.key_at = keys_.size();
  proof.key_size = key.size();
  proof.size = size;
  proof.has_md5 = md5.size() == proof.md5.size();
  if (proof.has_md5) std::copy(md5.begin(), md5.end(), proof.md5.begin());
  proof.stamp = stamp;
  keys_ += key;
  files_.push_back(proof);
}

void MirrorProofs::Seal() {
  if (order_.size() == files_.size()) return;
  order_.resize(files_.size());
  for (size_t i = 0; i < files_.size(); ++i) {
    order_[i] = static_cast<uint32_t>(i);
  }
  std::sort(order_.begin(), order_.end(), [this](uint32_t a, uint32_t b) {
    const int by_key = KeyOf(files_[a]).compare(KeyOf(files_[b]));
    return by_key != 0 ? by_key < 0 : a < b;
  });
}

bool MirrorProofs::Proves(FileSystem* fs, const std::string& path,
                          const Proof& proof) const {
  ManifestEntry e = MessageFileEntry(
      path, proof.size,
      proof.has_md5 ? std::string(proof.md5.begin(), proof.md5.end())
                    : std::string());
  e.stamp = proof.stamp;
  bool unreadable = false;
  return FileAsRecorded(fs, e, &unreadable);
}

std::pair<std::vector<uint32_t>::const_iterator,
          std::vector<uint32_t>::const_iterator>
MirrorProofs::Records(const std::string& key) const {
  auto begin = std::lower_bound(order_.begin(), order_.end(), key,
                                [this](uint32_t at, const std::string& k) {
                                  return KeyOf(files_[at]) < k;
                                });
  auto end = begin;
  while (end != order_.end() && KeyOf(files_[*end]) == key) ++end;
  return {begin, end};
}

bool MirrorProofs::FileUnchanged(FileSystem* fs,
                                 const std::string& path) const {
  const auto [begin, end] = Records(PathKey(path, names_));
  for (auto it = begin; it != end; ++it) {
    if (Proves(fs, path, files_[*it])) return true;
  }
  return false;
}

bool MirrorProofs::WrittenSize(const std::string& path, uint64_t file,
                               uint64_t* size) const {
  if (file == 0) return false;
  const auto [begin, end] = Records(PathKey(path, names_));
  bool found = false;
  for (auto it = begin; it != end; ++it) {
    const Proof& proof = files_[*it];
    if (!proof.stamp || proof.stamp->file != file) continue;
    // A file number used again for a later copy of another size.
    if (found && *size != proof.size) return false;
    *size = proof.size;
    found = true;
  }
  return found;
}

bool MirrorProofs::MadeDir(const std::string& path) const {
  return dirs_.count(PathKey(path, names_)) > 0;
}

}  // namespace vm
