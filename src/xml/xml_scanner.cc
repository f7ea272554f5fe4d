#include "xml/xml_scanner.h"

#include <cstring>

#include "xml/xml_document.h"

namespace vm {
namespace {

bool IsSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Bytes that end the name of a start tag, end tag or processing instruction
// while a node is scanned.
bool EndsTagName(unsigned char c) { return IsSpace(c) || c == '/' || c == '>'; }

bool IsSpaceOrQuote(int c) { return IsSpace(c) || c == '\'' || c == '"'; }

std::string Incorrect(const char* what, int32_t offset) {
  return std::string("Incorrect ") + what + " at offset " +
         std::to_string(offset);
}

const char* UnterminatedWhat(int kind, bool doctype) {
  if (doctype || kind == kDoctypeNode) return "Doctype";
  switch (kind) {
    case kStartTagNode:
      return "Element tag";
    case kEndTagNode:
      return "Element end tag";
    case kCdataNode:
      return "CDATA Section";
    case kInstructionNode:
      return "Processing instruction";
    case kCommentNode:
      return "Comment";
    default:
      return "tag";
  }
}

// The scan of one node, a state machine over its bytes: each state has a
// step of its own, which returns true at the node's last byte.
class NodeScan {
 public:
  NodeScan(ScanCursor* cursor, ScannedNode* node)
      : cursor_(cursor),
        node_(node),
        t_(reinterpret_cast<const unsigned char*>(cursor->text)),
        start_(cursor->next) {}

  int Run();

 private:
  bool Step(int32_t& i);
  void EndOfText(int32_t i);
  bool EndName(int32_t& i);
  void AfterOpen(unsigned char c, int32_t i);
  void AfterBang(unsigned char c);
  void AfterDash(unsigned char c);
  void AfterBracket(unsigned char c);
  bool InDelimited(unsigned char c, int32_t& i);
  bool AtCloser(int32_t i);
  bool InDoctype(unsigned char c, int32_t i);
  bool InSpace(unsigned char c, int32_t& i);
  void FirstByte(unsigned char c);

  void Expect(const char* d) {
    delimiter_ = d;
    delimiter_length_ = static_cast<int32_t>(std::strlen(d));
  }
  // An error node, which ends at the next ">".
  void Fail(const char* what) {
    node_->name = Incorrect(what, start_);
    kind_ = kErrorNode;
    Expect(">");
  }

  ScanCursor* const cursor_;
  ScannedNode* const node_;
  const unsigned char* const t_;
  const int32_t start_;
  int kind_ = kErrorNode;
  const char* delimiter_ = nullptr;  // what ends the node, when known
  int32_t delimiter_length_ = 0;
  bool open_ = false;     // the previous byte was the node's "<"
  bool bang_ = false;     // "<!"
  bool dash_ = false;     // "<!-"
  bool bracket_ = false;  // "<!["
  bool doctype_ = false;  // inside "<!D...", until its final ">"
  bool space_ = false;    // white space so far
  bool squote_ = false;
  bool dquote_ = false;
  int32_t name_start_ = -1;  // >= 0 while a name is being collected
  int last_ = -1;            // last two bytes of a start tag, -1 = none
  int before_last_ = -1;
  int32_t end_ = 0;  // offset of the node's last byte
};

int NodeScan::Run() {
  node_->start = start_;
  node_->flags = 0;
  node_->name.clear();
  if (t_[start_] == 0) {
    node_->length = 0;
    node_->kind = kEndOfText;
    return kEndOfText;
  }
  end_ = start_;
  for (int32_t i = start_;; ++i) {
    if (Step(i)) break;
  }
  cursor_->next = end_ + 1;
  node_->length = end_ + 1 - start_;
  node_->kind = kind_;
  return kind_;
}

// One byte in whatever state the scan is; `i` moves on over bytes that
// cannot change the state.
bool NodeScan::Step(int32_t& i) {
  const unsigned char c = t_[i];
  if (c == 0) {
    EndOfText(i);
    return true;
  }
  if (name_start_ >= 0 && !EndName(i)) return false;
  if (open_) {
    AfterOpen(c, i);
  } else if (bang_) {
    AfterBang(c);
  } else if (dash_) {
    AfterDash(c);
  } else if (bracket_) {
    AfterBracket(c);
  } else if (delimiter_ != nullptr) {
    return InDelimited(c, i);
  } else if (doctype_) {
    return InDoctype(c, i);
  } else if (space_) {
    return InSpace(c, i);
  } else {
    FirstByte(c);
  }
  return false;
}

// The text ends inside the node.
void NodeScan::EndOfText(int32_t i) {
  if (kind_ != kTextNode && kind_ != kWhiteSpaceNode) {
    node_->name = std::string(UnterminatedWhat(kind_, doctype_)) +
                  " at offset " + std::to_string(start_) + " unterminated";
    kind_ = kErrorNode;
  }
  end_ = i - 1;
}

// While a name is collected: false inside it (its bytes are passed over at
// once), true at the byte that ends it, which the caller then handles.
bool NodeScan::EndName(int32_t& i) {
  if (!EndsTagName(t_[i])) {
    while (t_[i + 1] != 0 && !EndsTagName(t_[i + 1])) ++i;
    return false;
  }
  if (kind_ == kEndTagNode) {
    cursor_->name_start = name_start_;
    cursor_->name_end = i - 1;
  } else {
    node_->name.assign(cursor_->text + name_start_, i - name_start_);
  }
  name_start_ = -1;
  last_ = before_last_ = -1;
  return true;
}

void NodeScan::AfterOpen(unsigned char c, int32_t i) {
  open_ = false;
  if (IsNameStartByte(c)) {
    kind_ = kStartTagNode;
    Expect(">");
    name_start_ = i;
  } else if (c == '/') {
    kind_ = kEndTagNode;
    Expect(">");
    name_start_ = i + 1;
  } else if (c == '!') {
    bang_ = true;
  } else if (c == '?') {
    kind_ = kInstructionNode;
    Expect("?>");
    name_start_ = i + 1;
  } else {
    Fail("tag name character");
  }
}

void NodeScan::AfterBang(unsigned char c) {
  bang_ = false;
  if (c == '-') {
    dash_ = true;
  } else if (c == '[' && !doctype_) {
    bracket_ = true;
  } else if (c == 'D' && !doctype_) {
    doctype_ = true;
  } else if (c == 'E' || c == 'A' || c == 'N') {
    // <!ELEMENT, <!ATTLIST, <!ENTITY, <!NOTATION
    Expect(">");
    kind_ = kDoctypeNode;
  } else {
    Fail("! tag");
  }
}

void NodeScan::AfterDash(unsigned char c) {
  dash_ = false;
  if (c == '-') {
    kind_ = kCommentNode;
    Expect("-->");
  } else {
    Fail("comment tag");
  }
}

void NodeScan::AfterBracket(unsigned char c) {
  bracket_ = false;
  if (c == 'C') {
    kind_ = kCdataNode;
    Expect("]]>");
  } else {
    Fail("tag");
  }
}

// Inside a node whose end is known: quotes in tags, ">" and the end.
bool NodeScan::InDelimited(unsigned char c, int32_t& i) {
  if (c == '>' && !squote_ && !dquote_) return AtCloser(i);
  if (c == '<' && (kind_ == kTextNode || kind_ == kErrorNode)) {
    end_ = i - 1;
    return true;
  }
  if (kind_ == kTextNode) {
    // Only "<", ">" and the end matter inside text.
    while (t_[i + 1] != 0 && t_[i + 1] != '<' && t_[i + 1] != '>') ++i;
    return false;
  }
  if (kind_ == kStartTagNode || kind_ == kDoctypeNode) {
    if (c == '"' && !squote_) dquote_ = !dquote_;
    if (c == '\'' && !dquote_) squote_ = !squote_;
  }
  if (kind_ == kStartTagNode) {
    before_last_ = last_;
    last_ = c;
  }
  return false;
}

// A ">" outside quotes: true when it completes the node's delimiter.
bool NodeScan::AtCloser(int32_t i) {
  bool met;
  if (delimiter_length_ == 1) {
    // Any one-byte delimiter: text nodes also end after a ">".
    met = true;
    if (kind_ == kStartTagNode && last_ == '/' &&
        (before_last_ < 0 || IsSpaceOrQuote(before_last_))) {
      node_->flags |= kEmptyTag;
    }
  } else {
    // The delimiter's bytes may include the opener's last one ("<?>" ends
    // an instruction, "<!-->" a comment) wherever the node starts, the
    // first byte of the text included.
    met = i >= delimiter_length_ - 1 &&
          std::memcmp(t_ + i - (delimiter_length_ - 1), delimiter_,
                      delimiter_length_ - 1) == 0;
  }
  if (!met) return false;
  if (doctype_) {
    // A declaration inside the doctype ended; the doctype goes on.
    delimiter_ = nullptr;
    return false;
  }
  end_ = i;
  return true;
}

bool NodeScan::InDoctype(unsigned char c, int32_t i) {
  if (c == '<') {
    open_ = true;  // declarations and comments nested in the doctype
  } else if (c == '>') {
    kind_ = kDoctypeNode;
    end_ = i;
    return true;
  }
  return false;
}

bool NodeScan::InSpace(unsigned char c, int32_t& i) {
  if (c == '<') {
    end_ = i - 1;
    return true;
  }
  if (!IsSpace(c)) {
    space_ = false;
    kind_ = kTextNode;
    Expect("<");
    return false;
  }
  while (IsSpace(t_[i + 1])) ++i;
  return false;
}

// The first byte of the node.
void NodeScan::FirstByte(unsigned char c) {
  if (c == '<') {
    open_ = true;
  } else if (IsSpace(c)) {
    kind_ = kWhiteSpaceNode;
    space_ = true;
  } else {
    kind_ = kTextNode;
    Expect("<");
  }
}

}  // namespace

int NextNode(ScanCursor* cursor, ScannedNode* node) {
  return NodeScan(cursor, node).Run();
}

bool SkipSpace(const char* text, int32_t* offset) {
  while (IsSpace(static_cast<unsigned char>(text[*offset]))) ++*offset;
  return text[*offset] != 0;
}

bool ScanName(ScanCursor* cursor) {
  int32_t s = cursor->next;
  if (!SkipSpace(cursor->text, &s)) {
    cursor->name_start = cursor->next = s;
    cursor->name_end = s - 1;
    return false;
  }
  const auto* t = reinterpret_cast<const unsigned char*>(cursor->text);
  int32_t e = s + 1;
  if (!IsNameStopByte(t[s])) {
    while (!IsNameStopByte(t[e])) ++e;
  }
  cursor->name_start = s;
  cursor->name_end = e - 1;
  cursor->next = e;
  return true;
}

bool MatchName(const ScanCursor& cursor, std::string_view name) {
  const int32_t length = cursor.name_end - cursor.name_start + 1;
  if (length < 0 || static_cast<size_t>(length) > name.size()) return false;
  const auto* a =
      reinterpret_cast<const unsigned char*>(cursor.text + cursor.name_start);
  const auto* b = reinterpret_cast<const unsigned char*>(name.data());
  for (int32_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return false;
  }
  if (static_cast<size_t>(length) == name.size()) return true;
  const char after = name[length];
  return after == '\0' || after == ' ' || after == '=' || after == '/' ||
         after == '[' || after == ']';
}

}  // namespace vm
