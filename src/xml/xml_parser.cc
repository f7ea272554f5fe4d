// Building the element index from the document text.

#include <string>
#include <vector>

#include "xml/end_tag_matcher.h"
#include "xml/xml_document.h"
#include "xml/xml_scanner.h"

namespace vm {

struct XmlDocument::OpenElement {
  int32_t index = 0;
  ScannedNode node;  // its start tag; the slot is reused for later nodes
};

void XmlDocument::Reparse() {
  parent_ = current_ = child_ = 0;
  next_free_ = 1;
  table_.Grow(static_cast<int32_t>(text_.size() / 64 + 8));
  Rec(0) = ElementRecord{};
  if (text_.empty()) {
    error_ = "Empty document";
  } else {
    int32_t first = BuildTree();
    Rec(0).length = static_cast<int32_t>(text_.size());
    if (first < 1) {
      error_ = "No root element";
    } else {
      Rec(0).first_child = first;
      // A root left open has its former children beside it; the message
      // that says so is the useful one, not the sibling it produced.
      const ElementRecord& root = Rec(first);
      if (root.next != 0 && (root.flags & kNotEnded) == 0) {
        error_ = "Root element has sibling";
      }
    }
  }
  parent_ = current_ = child_ = 0;
}

void XmlDocument::MarkError(int32_t element) {
  Rec(0).flags |= kDocumentHasErrors;
  Rec(element).flags |= kHasErrors;
}

// Scans the whole text once and indexes its elements under the document
// record. Returns the first element created, 0 if none. The parse never
// stops early: the first problem's message is kept, elements left open are
// closed as not ended, and stray end tags are ignored.
int32_t XmlDocument::BuildTree() {
  error_.clear();
  ScanCursor cursor;
  cursor.text = text_.c_str();
  std::vector<OpenElement> open(6);
  int32_t depth = 0;  // number of open elements
  int32_t parent = 0;
  int32_t first = 0;
  bool relinked = false;
  EndTagMatcher matcher;
  auto name_at = [&open](int32_t p) -> const std::string& {
    return open[p].node.name;
  };

  for (;;) {
    if (static_cast<size_t>(depth) == open.size()) {
      open.resize(2 * open.size() + 6);
    }
    ScannedNode& node = open[depth].node;
    const int kind = NextNode(&cursor, &node);
    if (kind == kStartTagNode) {
      int32_t n = TakeRecord();
      if (first == 0) first = n;
      ElementRecord& r = Rec(n);
      r.parent = parent;
      ElementRecord& p = Rec(parent);
      if (p.first_child == 0) {
        p.first_child = n;
        r.previous = n;
        r.flags = kFirstChild;
      } else {
        ElementRecord& first_child = Rec(p.first_child);
        int32_t last = first_child.previous;
        Rec(last).next = n;
        r.previous = last;
        first_child.previous = n;
      }
      r.level = depth;
      r.start = node.start;
      r.start_tag_length = node.length;
      r.length = node.length;
      if ((node.flags & kEmptyTag) == 0) {
        open[depth].index = n;
        ++depth;
        parent = n;
      }
    } else if (kind == kEndTagNode) {
      std::string_view end_name(
          text_.data() + cursor.name_start,
          static_cast<size_t>(cursor.name_end - cursor.name_start + 1));
      const int32_t k = matcher.Find(cursor, depth, name_at) + 1;
      if (k == 0) {
        MarkError(parent);
        if (error_.empty()) {
          error_ = "No start tag for end tag '" + std::string(end_name) +
                   "' at offset " + std::to_string(node.start);
        }
        continue;
      }
      const int32_t matched = open[k - 1].index;
      ElementRecord& m = Rec(matched);
      m.length = node.start + node.length - m.start;
      m.end_tag_length = node.length;
      if (k < depth) {
        if (error_.empty()) {
          const OpenElement& innermost = open[depth - 1];
          error_ = "End tag '" + std::string(end_name) + "' at offset " +
                   std::to_string(cursor.name_start - 1) +
                   " does not match start tag '" + innermost.node.name +
                   "' at offset " + std::to_string(Rec(innermost.index).start);
        }
        relinked |= CloseNotEnded(open, k, depth);
      }
      depth = k - 1;
      matcher.Truncate(depth, name_at);
      parent = Rec(matched).parent;
    } else if (kind == kEndOfText) {
      if (depth > 0) {
        if (error_.empty()) {
          const OpenElement& innermost = open[depth - 1];
          error_ = "Element '" + innermost.node.name + "' at offset " +
                   std::to_string(Rec(innermost.index).start) + " not ended";
        }
        relinked |= CloseNotEnded(open, 0, depth);
      }
      break;
    } else if (kind == kErrorNode) {
      MarkError(parent);
      if (error_.empty()) error_ = node.name;
    }
    // Text, white space, CDATA, comments, instructions and doctypes are not
    // indexed.
  }
  if (relinked) RepairParentsAndLevels();
  return first;
}

// Closes open[from..depth) as not ended, innermost first: each loses its
// end tag and its children, which follow it as siblings instead. Each close
// is O(1): the closed element is always its parent's last child, so its
// children list is spliced on behind it. The moved elements' parent and
// level fields are left stale and put right by RepairParentsAndLevels once
// the parse is over; until then the parser reads them only on open
// elements, which never move. Returns true when any element moved.
bool XmlDocument::CloseNotEnded(const std::vector<OpenElement>& open,
                                int32_t from, int32_t depth) {
  bool moved = false;
  Rec(0).flags |= kDocumentHasErrors;
  for (int32_t d = depth - 1; d >= from; --d) {
    const int32_t e = open[d].index;
    ElementRecord& r = Rec(e);
    r.end_tag_length = 0;
    r.length = r.start_tag_length;
    r.flags |= kNotEnded;
    ElementRecord& parent = Rec(r.parent);
    if ((r.flags & kHasErrors) != 0) {
      r.flags &= ~kHasErrors;
      parent.flags |= kHasErrors;
    }
    const int32_t child = r.first_child;
    if (child == 0) continue;
    ElementRecord& c = Rec(child);
    const int32_t last_child = c.previous;
    r.first_child = 0;
    r.next = child;
    c.previous = e;
    c.flags &= ~kFirstChild;
    Rec(parent.first_child).previous = last_child;
    moved = true;
  }
  return moved;
}

// Walks the whole tree in document order and sets every element's parent
// and level from the links; iterative, so depth costs no stack.
void XmlDocument::RepairParentsAndLevels() {
  int32_t x = Rec(0).first_child;
  if (x != 0) Rec(x).parent = 0;
  while (x != 0) {
    ElementRecord& r = Rec(x);
    r.level = r.parent == 0 ? 0 : Rec(r.parent).level + 1;
    if (r.first_child != 0) {
      Rec(r.first_child).parent = x;
      x = r.first_child;
      continue;
    }
    while (x != 0 && Rec(x).next == 0) x = Rec(x).parent;
    if (x == 0) break;
    const int32_t next = Rec(x).next;
    Rec(next).parent = Rec(x).parent;
    x = next;
  }
}

}  // namespace vm
