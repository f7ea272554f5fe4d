#include "session/account_list.h"

#include <algorithm>

#include "util/varint.h"

namespace vm {
namespace {

// Blocks are filled up to this size; a larger record gets a block alone.
constexpr size_t kBlockBytes = 1 << 20;
// Folders kept for target mailboxes; the mailboxes of any more are kept
// whole.
constexpr size_t kMaxFolders = 4096;

void PutText(const std::string& text, std::string* out) {
  PutVarint(out, text.size());
  out->append(text);
}

std::string GetText(const char* in, size_t* at) {
  const size_t size = GetVarint(in, at);
  std::string text(in + *at, size);
  *at += size;
  return text;
}

}  // namespace

void AccountList::PutTargetBox(const std::string& box, std::string* out) {
  // Split after the last separator of either kind: joined again, the two
  // parts are the path whatever bytes it holds.
  const size_t cut = box.find_last_of("\\/") + 1;
  if (cut > 0) {
    const std::string folder = box.substr(0, cut);
    auto it = folder_places_.find(folder);
    if (it == folder_places_.end() && folders_.size() < kMaxFolders) {
      it =
          folder_places_.emplace(folder, static_cast<uint32_t>(folders_.size()))
              .first;
      folders_.push_back(folder);
    }
    if (it != folder_places_.end()) {
      PutVarint(out, it->second + 1);
      PutText(box.substr(cut), out);
      return;
    }
  }
  PutVarint(out, 0);
  PutText(box, out);
}

std::string AccountList::Encode(const AccountRecord& a) {
  std::string out;
  PutText(a.user, &out);
  PutText(a.domain, &out);
  PutVarint(&out, static_cast<uint64_t>(a.outcome));
  PutText(a.reason, &out);
  PutTargetBox(a.target_box, &out);
  out.push_back(a.verified ? '\1' : '\0');
  PutVarint(&out, a.folders.size());
  PutText(a.folders.bytes(), &out);
  return out;
}

FolderRecord AccountRecord::Sum() const {
  FolderRecord sum;
  for (const FolderRecord& f : folders) sum.Add(f);
  sum.verified |= verified;
  return sum;
}

AccountList::Place AccountList::Append(const std::string& bytes, size_t slack) {
  const size_t size = bytes.size() + slack;
  if (blocks_.empty() || blocks_.back().size() + size > kBlockBytes) {
    blocks_.emplace_back();
    blocks_.back().reserve(std::max(size, kBlockBytes));
  }
  std::string& block = blocks_.back();
  Place place{static_cast<uint32_t>(blocks_.size() - 1),
              static_cast<uint32_t>(block.size()), static_cast<uint32_t>(size)};
  block.append(bytes);
  block.append(slack, '\0');
  return place;
}

void AccountList::push_back(const AccountRecord& account) {
  places_.push_back(Append(Encode(account), 0));
}

void AccountList::Set(size_t index, const AccountRecord& account) {
  const std::string bytes = Encode(account);
  Place& place = places_[index];
  if (bytes.size() <= place.room) {
    blocks_[place.block].replace(place.offset, bytes.size(), bytes);
    return;
  }
  // Moved to the end, with room to grow: a record that grows once (its
  // verification) may grow again, folder by folder.
  place = Append(bytes, bytes.size() / 2);
}

AccountRecord AccountList::operator[](size_t index) const {
  const Place& place = places_[index];
  const char* in = blocks_[place.block].data() + place.offset;
  size_t at = 0;
  AccountRecord a;
  a.user = GetText(in, &at);
  a.domain = GetText(in, &at);
  a.outcome = static_cast<AccountOutcome>(GetVarint(in, &at));
  a.reason = GetText(in, &at);
  const size_t folder = GetVarint(in, &at);
  a.target_box =
      folder > 0 ? folders_[folder - 1] + GetText(in, &at) : GetText(in, &at);
  a.verified = in[at++] != '\0';
  const size_t count = GetVarint(in, &at);
  a.folders = FolderList(GetText(in, &at), count);
  return a;
}

}  // namespace vm
