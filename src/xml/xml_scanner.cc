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

}  // namespace

int NextNode(ScanCursor* cursor, ScannedNode* node) {
  const auto* t = reinterpret_cast<const unsigned char*>(cursor->text);
  const int32_t start = cursor->next;
  node->start = start;
  node->flags = 0;
  node->name.clear();
  if (t[start] == 0) {
    node->length = 0;
    node->kind = kEndOfText;
    return kEndOfText;
  }

  int kind = kErrorNode;
  const char* delimiter = nullptr;  // what ends the node, when known
  int32_t delimiter_length = 0;
  bool open = false;     // the previous byte was the node's "<"
  bool bang = false;     // "<!"
  bool dash = false;     // "<!-"
  bool bracket = false;  // "<!["
  bool doctype = false;  // inside "<!D...", until its final ">"
  bool space = false;    // white space so far
  bool squote = false;
  bool dquote = false;
  int32_t name_start = -1;  // >= 0 while a name is being collected
  int last = -1;            // last two bytes of a start tag, -1 = none
  int before_last = -1;
  auto expect = [&](const char* d) {
    delimiter = d;
    delimiter_length = static_cast<int32_t>(std::strlen(d));
  };

  int32_t end = start;  // offset of the node's last byte
  for (int32_t i = start;; ++i) {
    const unsigned char c = t[i];
    if (c == 0) {
      // The text ends inside the node.
      if (kind != kTextNode && kind != kWhiteSpaceNode) {
        node->name = std::string(UnterminatedWhat(kind, doctype)) +
                     " at offset " + std::to_string(start) + " unterminated";
        kind = kErrorNode;
      }
      end = i - 1;
      break;
    }
    if (name_start >= 0) {
      if (!EndsTagName(c)) {
        while (t[i + 1] != 0 && !EndsTagName(t[i + 1])) ++i;
        continue;
      }
      if (kind == kEndTagNode) {
        cursor->name_start = name_start;
        cursor->name_end = i - 1;
      } else {
        node->name.assign(cursor->text + name_start, i - name_start);
      }
      name_start = -1;
      last = before_last = -1;
      // The terminator itself is handled below.
    }
    if (open) {
      open = false;
      if (IsNameStartByte(c)) {
        kind = kStartTagNode;
        expect(">");
        name_start = i;
      } else if (c == '/') {
        kind = kEndTagNode;
        expect(">");
        name_start = i + 1;
      } else if (c == '!') {
        bang = true;
      } else if (c == '?') {
        kind = kInstructionNode;
        expect("?>");
        name_start = i + 1;
      } else {
        node->name = Incorrect("tag name character", start);
        kind = kErrorNode;
        expect(">");
      }
      continue;
    }
    if (bang) {
      bang = false;
      if (c == '-') {
        dash = true;
      } else if (c == '[' && !doctype) {
        bracket = true;
      } else if (c == 'D' && !doctype) {
        doctype = true;
      } else {
        expect(">");
        // <!ELEMENT, <!ATTLIST, <!ENTITY, <!NOTATION
        if (c == 'E' || c == 'A' || c == 'N') {
          kind = kDoctypeNode;
        } else {
          node->name = Incorrect("! tag", start);
          kind = kErrorNode;
        }
      }
      continue;
    }
    if (dash) {
      dash = false;
      if (c == '-') {
        kind = kCommentNode;
        expect("-->");
      } else {
        node->name = Incorrect("comment tag", start);
        kind = kErrorNode;
        expect(">");
      }
      continue;
    }
    if (bracket) {
      bracket = false;
      if (c == 'C') {
        kind = kCdataNode;
        expect("]]>");
      } else {
        node->name = Incorrect("tag", start);
        kind = kErrorNode;
        expect(">");
      }
      continue;
    }
    if (delimiter != nullptr) {
      if (c == '>' && !squote && !dquote) {
        bool met;
        if (delimiter_length == 1) {
          // Any one-byte delimiter: text nodes also end after a ">".
          met = true;
          if (kind == kStartTagNode && last == '/' &&
              (before_last < 0 || IsSpaceOrQuote(before_last))) {
            node->flags |= kEmptyTag;
          }
        } else {
          met = i > delimiter_length &&
                std::memcmp(t + i - (delimiter_length - 1), delimiter,
                            delimiter_length - 1) == 0;
        }
        if (met) {
          if (doctype) {
            // A declaration inside the doctype ended; the doctype goes on.
            delimiter = nullptr;
            continue;
          }
          end = i;
          break;
        }
        continue;
      }
      if (c == '<' && (kind == kTextNode || kind == kErrorNode)) {
        end = i - 1;
        break;
      }
      if (kind == kTextNode) {
        // Only "<", ">" and the end matter inside text.
        while (t[i + 1] != 0 && t[i + 1] != '<' && t[i + 1] != '>') ++i;
        continue;
      }
      if (kind == kStartTagNode || kind == kDoctypeNode) {
        if (c == '"' && !squote) dquote = !dquote;
        if (c == '\'' && !dquote) squote = !squote;
      }
      if (kind == kStartTagNode) {
        before_last = last;
        last = c;
      }
      continue;
    }
    if (doctype) {
      if (c == '<') {
        open = true;  // declarations and comments nested in the doctype
      } else if (c == '>') {
        kind = kDoctypeNode;
        end = i;
        break;
      }
      continue;
    }
    if (space) {
      if (c == '<') {
        end = i - 1;
        break;
      }
      if (!IsSpace(c)) {
        space = false;
        kind = kTextNode;
        expect("<");
        continue;
      }
      while (IsSpace(t[i + 1])) ++i;
      continue;
    }
    // The first byte of the node.
    if (c == '<') {
      open = true;
    } else if (IsSpace(c)) {
      kind = kWhiteSpaceNode;
      space = true;
    } else {
      kind = kTextNode;
      expect("<");
    }
  }

  cursor->next = end + 1;
  node->length = end + 1 - start;
  node->kind = kind;
  return kind;
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
