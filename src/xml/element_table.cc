#include "xml/element_table.h"

#include <algorithm>

namespace vm {
namespace {

std::unique_ptr<ElementRecord[]> NewSegment(int32_t records) {
  return std::make_unique<ElementRecord[]>(static_cast<size_t>(records));
}

}  // namespace

ElementTable::ElementTable(ElementTable&& other) noexcept
    : segments_(std::move(other.segments_)),
      capacity_(std::exchange(other.capacity_, 0)) {
  other.segments_.clear();
}

ElementTable& ElementTable::operator=(ElementTable&& other) noexcept {
  if (this != &other) {
    segments_ = std::move(other.segments_);
    capacity_ = std::exchange(other.capacity_, 0);
    other.segments_.clear();
  }
  return *this;
}

void ElementTable::Grow(int32_t count) {
  if (capacity_ >= count) return;
  int32_t last = capacity_ == 0 ? 0 : (capacity_ - 1) >> kSegmentShift;
  int32_t new_last = (count - 1) >> kSegmentShift;
  if (new_last > last + 1) {
    new_last = last + 1;
    count = (last + 2) * kSegmentRecords;
  }
  int32_t old_segments = SegmentCount();
  // A partial last segment is filled up before a segment is added after it.
  if (old_segments > 0 && new_last > old_segments - 1) {
    int32_t held = capacity_ - kSegmentRecords * (old_segments - 1);
    if (held < kSegmentRecords) {
      auto full = NewSegment(kSegmentRecords);
      std::copy_n(segments_.back().get(), held, full.get());
      segments_.back() = std::move(full);
    }
  }
  int32_t tail_records = count - kSegmentRecords * new_last;
  if (new_last < old_segments) {
    // The last segment grows in place of itself.
    int32_t held = capacity_ - kSegmentRecords * new_last;
    auto grown = NewSegment(tail_records);
    std::copy_n(segments_[new_last].get(), held, grown.get());
    segments_[new_last] = std::move(grown);
  } else {
    segments_.resize(new_last + 1);
    for (int32_t s = old_segments; s < new_last; ++s) {
      segments_[s] = NewSegment(kSegmentRecords);
    }
    segments_[new_last] = NewSegment(tail_records);
  }
  capacity_ = count;
}

void ElementTable::Allocate(int32_t capacity) {
  segments_.clear();
  int32_t segments = ((capacity - 1) >> kSegmentShift) + 1;
  segments_.resize(segments);
  for (int32_t s = 0; s < segments; ++s) {
    int32_t records = std::min(kSegmentRecords, capacity - s * kSegmentRecords);
    segments_[s] = NewSegment(records);
  }
  capacity_ = capacity;
}

void ElementTable::CopyFrom(const ElementTable& other, int32_t count) {
  Allocate(std::max(count, 8));
  for (int32_t begin = 0; begin < count; begin += kSegmentRecords) {
    int32_t s = begin >> kSegmentShift;
    int32_t n = std::min(kSegmentRecords, count - begin);
    std::copy_n(other.segments_[s].get(), n, segments_[s].get());
  }
}

}  // namespace vm
