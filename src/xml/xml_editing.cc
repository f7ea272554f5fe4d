// Appending elements: the markup is spliced into the text and the element
// index patched to what a fresh parse of the new text would give.

#include <algorithm>
#include <cstring>
#include <string>

#include "xml/xml_document.h"
#include "xml/xml_scanner.h"
#include "xml/xml_text.h"

namespace vm {
namespace {

// A name that scans back as exactly itself, both as a tag name and by
// ScanName, so that the patched index matches a fresh parse.
bool IsPlainTagName(std::string_view name) {
  if (name.empty() || !IsNameStartByte(static_cast<unsigned char>(name[0]))) {
    return false;
  }
  for (char c : name) {
    if (IsNameStopByte(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

struct XmlDocument::Splice {
  int32_t offset = 0;    // where the new element's "<" now is
  int32_t replaced = 0;  // bytes of the old text overwritten
  int32_t ref = 0;       // the sibling the new element follows, 0 = first
  int32_t length = 0;    // bytes written
};

bool XmlDocument::NewElementNumber(std::string_view name, int32_t number,
                                   uint32_t options) {
  return NewElement(name, std::to_string(number), options);
}

bool XmlDocument::NewElement(std::string_view name, std::string_view text,
                             uint32_t options) {
  const bool as_child = (options & kAsChild) != 0;
  if (as_child && current_ == 0) return false;
  if (table_.Capacity() == 0) return false;
  const int32_t parent = as_child ? current_ : parent_;
  const int32_t ref = as_child ? child_ : current_;
  if ((options & kNoEndTag) != 0 && !text.empty()) return false;
  if (!IsPlainTagName(name) || text.find('\0') != std::string_view::npos) {
    return false;
  }
  // The reference element must be one of the parent's children, or the
  // links patched below would not describe the text.
  if (!ValidIndex(parent) || !ValidIndex(ref)) return false;
  if (ref != 0 && Rec(ref).parent != parent) return false;

  const int32_t name_length = static_cast<int32_t>(name.size());
  std::string markup = "<";
  markup += name;
  int32_t start_tag_length;
  int32_t end_tag_length = 0;
  if (!text.empty()) {
    markup += '>';
    markup += (options & kAsCdata) != 0 ? WrapInCdata(text)
                                        : EncodeEntities(text, options);
    markup += "</";
    markup += name;
    markup += '>';
    start_tag_length = name_length + 2;
    end_tag_length = name_length + 3;
  } else if ((options & kNoEndTag) != 0) {
    markup += '>';
    start_tag_length = name_length + 2;
  } else if ((options & kSpacedEmpty) != 0) {
    markup += " />";
    start_tag_length = name_length + 4;
  } else {
    markup += "/>";
    start_tag_length = name_length + 3;
  }
  const int32_t length = static_cast<int32_t>(markup.size());

  // Room for the markup, its line break and a parent's new end tag.
  const size_t worst =
      markup.size() + 7 + (parent != 0 ? StartTagName(parent).size() + 3 : 0);
  if (text_.size() + worst >= kMaxTextLength) return false;

  const int32_t n = TakeRecord();
  Splice splice = SpliceMarkup(parent, ref, options, std::move(markup));
  ElementRecord& r = Rec(n);
  r.start = splice.offset;
  r.length = length;
  r.start_tag_length = start_tag_length;
  r.end_tag_length = end_tag_length;
  r.first_child = 0;
  r.flags = (options & kNoEndTag) != 0 ? kNotEnded : 0;
  LinkElement(parent, splice.ref, n);
  ShiftOffsets(n, splice.length - splice.replaced);
  if (as_child) {
    child_ = n;
  } else {
    parent_ = parent;
    current_ = n;
    child_ = 0;
  }
  return true;
}

// The name as the parser collects it from the start tag (up to white space,
// "/" or ">"), so that an end tag written with it matches on reparse.
std::string XmlDocument::StartTagName(int32_t index) const {
  const int32_t begin = Rec(index).start + 1;
  int32_t end = begin;
  for (;; ++end) {
    const char c = text_[end];
    if (c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == '\r' ||
        c == '/' || c == '>') {
      break;
    }
  }
  return text_.substr(begin, end - begin);
}

XmlDocument::Splice XmlDocument::SpliceMarkup(int32_t parent, int32_t ref,
                                              uint32_t options,
                                              std::string markup) {
  // For parent 0 the document record stands in: offset 0, the whole text,
  // no tags.
  const ElementRecord& p = Rec(parent);
  const bool empty_parent = parent != 0 && p.length == p.start_tag_length;
  const bool bare_parent = parent != 0 && p.ContentLength() == 0;
  const bool before = (options & kInsertBefore) != 0;
  const bool not_ended = (p.flags & kNotEnded) != 0;
  const size_t element_length = markup.size();

  int32_t offset;
  if (ref != 0) {
    offset = before ? Rec(ref).start : Rec(ref).start + Rec(ref).length;
  } else if (empty_parent) {
    offset = p.start + p.start_tag_length - (not_ended ? 0 : 1);
  } else if (before) {
    offset = p.ContentStart();
  } else {
    offset = p.start + p.length - p.end_tag_length;
    if (parent == 0) {
      // Parsing stops at a NUL byte; a last top-level element goes in
      // front of it, where a parse of the text will find it.
      offset =
          std::min(offset, static_cast<int32_t>(std::strlen(text_.c_str())));
    }
  }
  if (!empty_parent) {
    // Past the line break that follows the reference sibling, in front of
    // the next tag.
    int32_t skipped = offset;
    if (!SkipSpace(text_.c_str(), &skipped) || text_[skipped] == '<') {
      offset = skipped;
    }
  }

  if (before && ref != 0) {
    ref = p.first_child == ref ? 0 : Rec(ref).previous;
  } else if (!before && ref == 0 && p.first_child != 0) {
    ref = Rec(p.first_child).previous;
  }

  markup += "\r\n";
  if (empty_parent || bare_parent) offset += 2;
  int32_t at;
  int32_t replaced = 0;
  if (empty_parent) {
    // "<a/>", "<a />" or a lone "<a>" becomes "<a>", CR LF, the new
    // element, CR LF, "</a>"; the old final ">" closes the new end tag.
    const std::string name = StartTagName(parent);
    markup = ">\r\n" + markup + "</" + name;
    ElementRecord& pw = Rec(parent);
    if (not_ended) {
      at = pw.start + pw.length - 1;
      pw.flags &= ~kNotEnded;
    } else {
      at = pw.start + pw.length - 2;  // the "/"
      replaced = 1;
      pw.start_tag_length -= 1;
    }
    pw.end_tag_length = static_cast<int32_t>(name.size()) + 3;
  } else if (bare_parent) {
    markup = "\r\n" + markup;
    at = p.ContentStart();
  } else {
    at = offset;
  }
  last_insertion_.before = markup.substr(0, offset - at);
  last_insertion_.after = markup.substr(offset - at + element_length);
  last_insertion_.replaced = text_.substr(at, replaced);
  WriteText(at, replaced, markup);
  return Splice{offset, replaced, ref, static_cast<int32_t>(markup.size())};
}

// One in-place splice: only the bytes after `offset` move, and the buffer
// grows by an eighth when it must grow at all: growth stays geometric, and
// a large document holds little room it does not use.
void XmlDocument::WriteText(int32_t offset, int32_t replaced,
                            const std::string& markup) {
  const size_t needed = text_.size() - replaced + markup.size();
  if (text_.capacity() < needed) text_.reserve(needed + needed / 8 + 4096);
  text_.replace(offset, replaced, markup);
}

void XmlDocument::ReserveText(size_t bytes) {
  if (bytes > text_.capacity() && bytes < kMaxTextLength) text_.reserve(bytes);
}

void XmlDocument::LinkElement(int32_t parent, int32_t ref, int32_t n) {
  ElementRecord& r = Rec(n);
  r.parent = parent;
  ElementRecord& p = Rec(parent);
  if (ref != 0) {
    ElementRecord& s = Rec(ref);
    r.flags &= ~kFirstChild;
    r.next = s.next;
    if (s.next != 0) {
      Rec(s.next).previous = n;
    } else {
      Rec(p.first_child).previous = n;
    }
    s.next = n;
    r.previous = ref;
  } else {
    r.flags |= kFirstChild;
    if (p.first_child != 0) {
      ElementRecord& f = Rec(p.first_child);
      r.next = p.first_child;
      r.previous = f.previous;
      f.previous = n;
      f.flags &= ~kFirstChild;
    } else {
      r.next = 0;
      r.previous = n;
    }
    p.first_child = n;
  }
}

// Moves every element after n by delta and lengthens n's ancestors and the
// document record. Costs the number of elements after n plus the depth.
void XmlDocument::ShiftOffsets(int32_t n, int32_t delta) {
  for (int32_t c = Rec(n).first_child; c != 0; c = Rec(c).next) {
    ShiftSubtree(c, delta);
  }
  for (int32_t x = n; x != 0;) {
    for (int32_t s = Rec(x).next; s != 0; s = Rec(s).next) {
      ShiftSubtree(s, delta);
    }
    x = Rec(x).parent;
    Rec(x).length += delta;
  }
}

void XmlDocument::ShiftSubtree(int32_t root, int32_t delta) {
  int32_t x = root;
  for (;;) {
    Rec(x).start += delta;
    if (Rec(x).first_child != 0) {
      x = Rec(x).first_child;
      continue;
    }
    while (x != root && Rec(x).next == 0) x = Rec(x).parent;
    if (x == root) return;
    x = Rec(x).next;
  }
}

}  // namespace vm
