// Moving the cursor and reading names and text.

#include <algorithm>
#include <string>

#include "xml/xml_document.h"
#include "xml/xml_scanner.h"
#include "xml/xml_text.h"

namespace vm {

bool XmlDocument::MoveTo(int32_t parent, int32_t current, int32_t child) {
  if (!ValidIndex(parent) || !ValidIndex(current) || !ValidIndex(child)) {
    return false;
  }
  parent_ = parent;
  current_ = current;
  child_ = child;
  return true;
}

bool XmlDocument::NameMatches(int32_t index, std::string_view name) const {
  if (name.empty()) return true;
  ScanCursor cursor;
  cursor.text = text_.c_str();
  cursor.next = Rec(index).start + 1;
  return ScanName(&cursor) && MatchName(cursor, name);
}

bool XmlDocument::SeekElement(std::string_view name) {
  if (table_.Capacity() == 0) return false;
  int32_t e = current_ != 0 ? Rec(current_).next : Rec(parent_).first_child;
  for (; e != 0; e = Rec(e).next) {
    if (NameMatches(e, name)) {
      current_ = e;
      parent_ = Rec(e).parent;
      child_ = 0;
      return true;
    }
  }
  return false;
}

bool XmlDocument::SeekChild(std::string_view name) {
  if (current_ == 0) SeekElement();
  // With no element at this level there are no children to search.
  if (current_ == 0) return false;
  int32_t e = child_ != 0 ? Rec(child_).next : Rec(current_).first_child;
  for (; e != 0; e = Rec(e).next) {
    if (NameMatches(e, name)) {
      child_ = e;
      current_ = Rec(e).parent;
      parent_ = Rec(current_).parent;
      return true;
    }
  }
  return false;
}

bool XmlDocument::EnterElement() {
  if (current_ == 0) return false;
  parent_ = current_;
  current_ = child_;
  child_ = 0;
  return true;
}

std::string XmlDocument::ElementName(int32_t index) const {
  if (index <= 0 || !ValidIndex(index)) return {};
  ScanCursor cursor;
  cursor.text = text_.c_str();
  cursor.next = Rec(index).start + 1;
  if (!ScanName(&cursor)) return {};
  return text_.substr(cursor.name_start,
                      cursor.name_end - cursor.name_start + 1);
}

std::string XmlDocument::ElementText(int32_t index) const {
  if (index <= 0 || !ValidIndex(index)) return {};
  const ElementRecord& r = Rec(index);
  if (r.first_child != 0 || r.ContentLength() <= 0) return {};
  const int32_t begin = r.ContentStart();
  const int32_t end = begin + r.ContentLength();
  std::string_view content(text_.data() + begin, end - begin);
  if (content.find('<') == std::string_view::npos) {
    return DecodeEntities(content);
  }
  // Mixed content: text nodes decoded, CDATA sections verbatim, the rest
  // (white space, comments, instructions) dropped.
  std::string result;
  ScanCursor cursor;
  cursor.text = text_.c_str();
  cursor.next = begin;
  ScannedNode node;
  while (cursor.next < end) {
    const int kind = NextNode(&cursor, &node);
    if (kind == kEndOfText) break;
    const int32_t node_end = std::min(node.start + node.length, end);
    if (kind == kTextNode) {
      result += DecodeEntities(
          std::string_view(text_.data() + node.start, node_end - node.start));
    } else if (kind == kCdataNode && node_end - node.start >= 12) {
      // "<![CDATA[" ... "]]>"; a shorter node such as "<![C]]>" holds no
      // data at all.
      result.append(text_, node.start + 9, node_end - node.start - 12);
    }
  }
  return result;
}

}  // namespace vm
