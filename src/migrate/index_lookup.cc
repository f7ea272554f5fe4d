#include "migrate/index_lookup.h"

#include <array>
#include <cstdint>
#include <queue>

#include "util/ascii.h"

namespace vm {

namespace {

constexpr std::string_view kFieldSeparator = "\x0c\t";
constexpr size_t kFlagField = 7;

// atoi's reading of a field, reduced to "is it exactly 1". Long digit runs
// cannot overflow: anything but a single significant 1 is not 1.
bool FieldValueIsOne(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && IsAsciiSpace(field[i])) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  while (i < field.size() && field[i] == '0') ++i;
  if (i >= field.size() || field[i] != '1') return false;
  ++i;
  bool more_digits = i < field.size() && field[i] >= '0' && field[i] <= '9';
  return !negative && !more_digits;
}

// Trie of the names with failure links. Children are kept in sibling lists
// (the alphabet is bounded, so a lookup is constant time) to keep a node
// small: an index of 20,000 names makes a few hundred thousand nodes. The
// root has a full table. Each node keeps the nearest node on its failure
// chain that ends a name, so matches are enumerated without walking nodes
// that end none.
class Automaton {
 public:
  explicit Automaton(const std::vector<std::string>& names) {
    root_next_.fill(0);
    nodes_.emplace_back();
    for (size_t i = 0; i < names.size(); ++i) Insert(names[i], i);
    Link();
  }

  // Follows one byte from `state`.
  uint32_t Step(uint32_t state, unsigned char c) const {
    while (state != 0) {
      uint32_t child = Child(state, c);
      if (child != 0) return child;
      state = nodes_[state].fail;
    }
    return root_next_[c];
  }

  int32_t Name(uint32_t state) const { return nodes_[state].name; }
  uint32_t Output(uint32_t state) const { return nodes_[state].output; }

 private:
  struct Node {
    uint32_t first_child = 0;   // 0: none (the root is never a child)
    uint32_t next_sibling = 0;  // 0: none
    uint32_t fail = 0;
    uint32_t output = 0;  // nearest proper suffix node ending a name; 0: none
    int32_t name = -1;    // index of the name ending here
    unsigned char byte = 0;
  };

  uint32_t Child(uint32_t state, unsigned char c) const {
    if (state == 0) return root_next_[c];
    for (uint32_t n = nodes_[state].first_child; n != 0;
         n = nodes_[n].next_sibling) {
      if (nodes_[n].byte == c) return n;
    }
    return 0;
  }

  uint32_t AddChild(uint32_t state, unsigned char c) {
    uint32_t child = static_cast<uint32_t>(nodes_.size());
    nodes_.emplace_back();
    nodes_[child].byte = c;
    if (state == 0) {
      root_next_[c] = child;
    } else {
      nodes_[child].next_sibling = nodes_[state].first_child;
      nodes_[state].first_child = child;
    }
    return child;
  }

  void Insert(const std::string& name, size_t index) {
    if (name.empty()) return;
    uint32_t state = 0;
    for (unsigned char c : name) {
      uint32_t child = Child(state, c);
      state = child != 0 ? child : AddChild(state, c);
    }
    // Directory names are unique; a repeated name keeps its first index.
    if (nodes_[state].name < 0)
      nodes_[state].name = static_cast<int32_t>(index);
  }

  // Breadth-first, so a node's failure target is linked before the node.
  void Link() {
    std::queue<uint32_t> queue;
    for (uint32_t child : root_next_) {
      if (child != 0) queue.push(child);
    }
    auto visit = [&](uint32_t parent, uint32_t child) {
      uint32_t fail =
          parent == 0 ? 0 : Step(nodes_[parent].fail, nodes_[child].byte);
      nodes_[child].fail = fail;
      nodes_[child].output =
          nodes_[fail].name >= 0 ? fail : nodes_[fail].output;
      queue.push(child);
    };
    // Children of the root fail to the root.
    std::queue<uint32_t> level;
    std::swap(level, queue);
    while (!level.empty()) {
      uint32_t state = level.front();
      level.pop();
      for (uint32_t n = nodes_[state].first_child; n != 0;
           n = nodes_[n].next_sibling) {
        visit(state, n);
      }
      if (level.empty()) std::swap(level, queue);
    }
  }

  std::array<uint32_t, 256> root_next_;
  std::vector<Node> nodes_;
};

}  // namespace

bool SizeFlagOfIndexLine(std::string_view line) {
  // Walk to the eighth field without building the whole field list.
  size_t start = 0;
  for (size_t field = 0; field < kFlagField; ++field) {
    size_t sep = line.find(kFieldSeparator, start);
    if (sep == std::string_view::npos) return false;
    start = sep + kFieldSeparator.size();
  }
  size_t end = line.find(kFieldSeparator, start);
  std::string_view field =
      line.substr(start, end == std::string_view::npos ? std::string_view::npos
                                                       : end - start);
  // An empty piece after the last separator is no field at all; its value
  // would be 0 either way.
  return FieldValueIsOne(field);
}

std::vector<bool> SizeFlagsFromIndex(std::string_view index_text,
                                     const std::vector<std::string>& names) {
  std::vector<bool> flags(names.size(), false);
  if (names.empty() || index_text.empty()) return flags;

  Automaton automaton(names);
  std::vector<bool> found(names.size(), false);
  size_t remaining = 0;
  for (const std::string& name : names) remaining += name.empty() ? 0 : 1;

  if (remaining == 0) return flags;
  ForEachLine(index_text, [&](std::string_view line) {
    // Names first found on this line; the line's flag is computed once,
    // only when some name needs it.
    int line_flag = -1;
    uint32_t state = 0;
    for (unsigned char c : line) {
      state = automaton.Step(state, c);
      // Each name ending here, longest first. When a name is found all
      // names that are its suffixes are found on the same line, so the
      // walk stops at the first name already found: every node is visited
      // once in total.
      uint32_t node =
          automaton.Name(state) >= 0 ? state : automaton.Output(state);
      while (node != 0) {
        int32_t index = automaton.Name(node);
        if (found[index]) break;
        found[index] = true;
        --remaining;
        if (line_flag < 0) line_flag = SizeFlagOfIndexLine(line) ? 1 : 0;
        flags[index] = line_flag == 1;
        node = automaton.Output(node);
      }
    }
    return remaining > 0;
  });
  return flags;
}

}  // namespace vm
