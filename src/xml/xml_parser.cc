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

// The state of one BuildTree: the elements open, innermost last.
struct XmlDocument::TreeBuild {
  ScanCursor cursor;
  std::vector<OpenElement> open = std::vector<OpenElement>(6);
  int32_t depth = 0;  // number of open elements
  int32_t parent = 0;
  bool relinked = false;
  EndTagMatcher matcher;

  const std::string& NameAt(int32_t p) const { return open[p].node.name; }
};

// Scans the whole text once and indexes its elements under the document
// record. Returns the first element created, 0 if none. The parse never
// stops early: the first problem's message is kept, elements left open are
// closed as not ended, and stray end tags are ignored.
int32_t XmlDocument::BuildTree() {
  error_.clear();
  TreeBuild build;
  build.cursor.text = text_.c_str();
  int32_t first = 0;
  for (;;) {
    if (static_cast<size_t>(build.depth) == build.open.size()) {
      build.open.resize(2 * build.open.size() + 6);
    }
    ScannedNode& node = build.open[build.depth].node;
    const int kind = NextNode(&build.cursor, &node);
    if (kind == kStartTagNode) {
      const int32_t n = AppendElement(node, build.parent);
      if (first == 0) first = n;
      if ((node.flags & kEmptyTag) == 0) {
        build.open[build.depth].index = n;
        ++build.depth;
        build.parent = n;
      }
    } else if (kind == kEndTagNode) {
      EndElement(&build, node);
    } else if (kind == kEndOfText) {
      EndText(&build);
      break;
    } else if (kind == kErrorNode) {
      MarkError(build.parent);
      if (error_.empty()) error_ = node.name;
    }
    // Text, white space, CDATA, comments, instructions and doctypes are not
    // indexed.
  }
  if (build.relinked) RepairParents();
  return first;
}

// Takes a record for the element whose start tag is `node` and links it as
// the last child of `parent`.
int32_t XmlDocument::AppendElement(const ScannedNode& node, int32_t parent) {
  int32_t n = TakeRecord();
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
  r.start = node.start;
  r.start_tag_length = node.length;
  r.length = node.length;
  return n;
}

// An end tag: ends the open element it names, closing those opened inside
// it as not ended; ignored, with an error, when no open element has its
// name.
void XmlDocument::EndElement(TreeBuild* build, const ScannedNode& node) {
  const ScanCursor& cursor = build->cursor;
  auto name_at = [build](int32_t p) -> const std::string& {
    return build->NameAt(p);
  };
  std::string_view end_name(
      text_.data() + cursor.name_start,
      static_cast<size_t>(cursor.name_end - cursor.name_start + 1));
  const int32_t k = build->matcher.Find(cursor, build->depth, name_at) + 1;
  if (k == 0) {
    MarkError(build->parent);
    if (error_.empty()) {
      error_ = "No start tag for end tag '" + std::string(end_name) +
               "' at offset " + std::to_string(node.start);
    }
    return;
  }
  const int32_t matched = build->open[k - 1].index;
  ElementRecord& m = Rec(matched);
  m.length = node.start + node.length - m.start;
  m.end_tag_length = node.length;
  if (k < build->depth) {
    if (error_.empty()) {
      const OpenElement& innermost = build->open[build->depth - 1];
      error_ = "End tag '" + std::string(end_name) + "' at offset " +
               std::to_string(cursor.name_start - 1) +
               " does not match start tag '" + innermost.node.name +
               "' at offset " + std::to_string(Rec(innermost.index).start);
    }
    build->relinked |= CloseNotEnded(build->open, k, build->depth);
  }
  build->depth = k - 1;
  build->matcher.Truncate(build->depth, name_at);
  build->parent = Rec(matched).parent;
}

// The end of the text: every element still open is closed as not ended.
void XmlDocument::EndText(TreeBuild* build) {
  if (build->depth == 0) return;
  if (error_.empty()) {
    const OpenElement& innermost = build->open[build->depth - 1];
    error_ = "Element '" + innermost.node.name + "' at offset " +
             std::to_string(Rec(innermost.index).start) + " not ended";
  }
  build->relinked |= CloseNotEnded(build->open, 0, build->depth);
}

// Closes open[from..depth) as not ended, innermost first: each loses its
// end tag and its children, which follow it as siblings instead. Each close
// is O(1): the closed element is always its parent's last child, so its
// children list is spliced on behind it. The moved elements' parent
// fields are left stale and put right by RepairParents once
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
// from the links; iterative, so depth costs no stack.
void XmlDocument::RepairParents() {
  int32_t x = Rec(0).first_child;
  if (x != 0) Rec(x).parent = 0;
  while (x != 0) {
    ElementRecord& r = Rec(x);
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
