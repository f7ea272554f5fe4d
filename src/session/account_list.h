#ifndef VM_SESSION_ACCOUNT_LIST_H_
#define VM_SESSION_ACCOUNT_LIST_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include "migrate/outcome_table.h"
#include "session/folder_list.h"

namespace vm {

struct AccountRecord {
  std::string user;  // ANSI
  std::string domain;
  AccountOutcome outcome = AccountOutcome::kExists;
  // The line the steps gave as the reason (empty when they gave none; the
  // outcome table has the outcome's own reason then).
  std::string reason;
  std::string target_box;  // as the platform shows paths
  bool verified = false;   // a verification looked at it
  FolderList folders;

  // The sums over its folders; verified when a verification looked at it.
  FolderRecord Sum() const;
};

// The accounts of a run's record, in run order, each packed into a few
// bytes of large shared blocks: a run keeps every account's record to its
// end, and strings and lists of their own would cost several times their
// bytes in a run of many accounts. Reading yields AccountRecord values;
// every value comes back exactly as it went in.
class AccountList {
 public:
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = AccountRecord;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = AccountRecord;

    Iterator() = default;
    AccountRecord operator*() const { return (*list_)[at_]; }
    Iterator& operator++() {
      ++at_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator was = *this;
      ++at_;
      return was;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    friend class AccountList;
    Iterator(const AccountList* list, size_t at) : list_(list), at_(at) {}
    const AccountList* list_ = nullptr;
    size_t at_ = 0;
  };

  void push_back(const AccountRecord& account);
  // Replaces account `index` (< size()).
  void Set(size_t index, const AccountRecord& account);
  AccountRecord operator[](size_t index) const;

  bool empty() const { return places_.empty(); }
  size_t size() const { return places_.size(); }
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, places_.size()); }

 private:
  // Where a record's bytes lie, and how many bytes it may take there.
  struct Place {
    uint32_t block = 0;
    uint32_t offset = 0;
    uint32_t room = 0;
  };
  // Puts `bytes` at the end of the last block (a new one when it is full),
  // with `slack` bytes of room after them.
  Place Append(const std::string& bytes, size_t slack);
  std::string Encode(const AccountRecord& a);
  // The target mailbox as its folder's place in folders_, counted from 1
  // (0: whole), and the rest.
  void PutTargetBox(const std::string& box, std::string* out);

  std::vector<std::string> blocks_;
  std::deque<Place> places_;
  // The folders of the target mailboxes, up to their separator, each kept
  // once: a run's mailboxes lie in a few folders, one a domain.
  std::vector<std::string> folders_;
  std::unordered_map<std::string, uint32_t> folder_places_;
};

}  // namespace vm

#endif  // VM_SESSION_ACCOUNT_LIST_H_
