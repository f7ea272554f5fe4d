#ifndef VM_XML_ELEMENT_TABLE_H_
#define VM_XML_ELEMENT_TABLE_H_

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace vm {

// Flag bits of ElementRecord::flags.
inline constexpr uint32_t kFirstChild = 1u << 19;
inline constexpr uint32_t kNotEnded = 1u << 20;
inline constexpr uint32_t kHasErrors = 1u << 21;
// Set on the document record (index 0) by any parse error.
inline constexpr uint32_t kDocumentHasErrors = 1u << 23;

// Where one element lies in the document text, and its links.
//
// Every field has a word of its own: packing the tag lengths into bit
// fields would silently wrap for start tags over 4 MiB or end tags over
// 1 KiB, and corrupt the index. An element's level is not kept: it is the
// number of steps to the top through `parent`, and a large document would
// pay a word for it in every record.
struct ElementRecord {
  int32_t start = 0;   // offset of the element's "<"
  int32_t length = 0;  // "<" of the start tag through ">" of the end tag
  int32_t start_tag_length = 0;
  int32_t end_tag_length = 0;  // 0 when there is no end tag
  uint32_t flags = 0;
  int32_t parent = 0;       // 0 = the document record
  int32_t first_child = 0;  // 0 = no child element
  int32_t next = 0;         // next sibling, 0 = last
  // Previous sibling; for the first child it names the parent's LAST child
  // (its own index for an only child), so the last child is one step away.
  int32_t previous = 0;

  int32_t ContentStart() const { return start + start_tag_length; }
  int32_t ContentLength() const {
    return length - start_tag_length - end_tag_length;
  }
};

// Records stored in segments of kSegmentRecords, so growing a large table
// never copies more than one segment.
class ElementTable {
 public:
  static constexpr int kSegmentShift = 16;
  static constexpr int32_t kSegmentRecords = 1 << kSegmentShift;

  ElementTable() = default;
  ElementTable(const ElementTable&) = delete;
  ElementTable& operator=(const ElementTable&) = delete;
  // The moved-from table is left empty (capacity 0).
  ElementTable(ElementTable&& other) noexcept;
  ElementTable& operator=(ElementTable&& other) noexcept;

  int32_t Capacity() const { return capacity_; }

  // Makes room for at least `count` records, adding at most one segment per
  // call (so the capacity may stay below `count`). Existing records keep
  // their values; new ones are zero.
  void Grow(int32_t count);

  // Replaces the contents with records [0, count) of `other`; the capacity
  // becomes max(count, 8).
  void CopyFrom(const ElementTable& other, int32_t count);

  ElementRecord& operator[](int32_t i) {
    return segments_[i >> kSegmentShift][i & (kSegmentRecords - 1)];
  }
  const ElementRecord& operator[](int32_t i) const {
    return segments_[i >> kSegmentShift][i & (kSegmentRecords - 1)];
  }

  int SegmentCount() const { return static_cast<int>(segments_.size()); }

 private:
  void Allocate(int32_t capacity);

  std::vector<std::unique_ptr<ElementRecord[]>> segments_;
  int32_t capacity_ = 0;
};

}  // namespace vm

#endif  // VM_XML_ELEMENT_TABLE_H_
