#ifndef VM_SESSION_FOLDER_LIST_H_
#define VM_SESSION_FOLDER_LIST_H_

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>

#include "migrate/run_observer.h"

namespace vm {

// A folder's counts and, after a verification, what it found.
struct FolderRecord {
  FolderCounts counts;
  bool verified = false;
  int64_t checked = 0;
  int64_t missing = 0;
  int64_t different = 0;

  // Adds the counts of `other` (for an account's or the run's sums).
  void Add(const FolderRecord& other);
  // What the reports say of its verification: "not checked", "passed" or
  // "failed".
  const char* Verification() const;
};

// The folders of one account's record, packed into one byte string: a run
// keeps every account's record to its end, and a folder's counts are
// mostly small numbers. Each folder is its name and its counts as
// variable-length numbers; every value comes back exactly as it went in.
// Reading yields FolderRecord values.
class FolderList {
 public:
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = FolderRecord;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = FolderRecord;

    Iterator() = default;
    FolderRecord operator*() const;
    Iterator& operator++();
    Iterator operator++(int) {
      Iterator was = *this;
      ++*this;
      return was;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    friend class FolderList;
    Iterator(const std::string* bytes, size_t at) : bytes_(bytes), at_(at) {}
    const std::string* bytes_ = nullptr;
    size_t at_ = 0;
  };

  FolderList() = default;
  // The list whose packed bytes (bytes()) and size are these.
  FolderList(std::string bytes, size_t count)
      : bytes_(std::move(bytes)), count_(count) {}

  void push_back(const FolderRecord& folder);
  // Replaces folder `index` (< size()).
  void Set(size_t index, const FolderRecord& folder);

  bool empty() const { return count_ == 0; }
  size_t size() const { return count_; }
  Iterator begin() const { return Iterator(&bytes_, 0); }
  Iterator end() const { return Iterator(&bytes_, bytes_.size()); }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  size_t count_ = 0;
};

}  // namespace vm

#endif  // VM_SESSION_FOLDER_LIST_H_
