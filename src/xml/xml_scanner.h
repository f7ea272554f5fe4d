#ifndef VM_XML_XML_SCANNER_H_
#define VM_XML_XML_SCANNER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vm {

// Kinds of node returned by NextNode.
inline constexpr int kEndTagNode = 0;
inline constexpr int kStartTagNode = 1;
inline constexpr int kTextNode = 2;
inline constexpr int kWhiteSpaceNode = 4;
inline constexpr int kCdataNode = 8;
inline constexpr int kInstructionNode = 16;  // <?target ...?>
inline constexpr int kCommentNode = 32;
inline constexpr int kDoctypeNode = 64;
inline constexpr int kErrorNode = -1;
inline constexpr int kEndOfText = -2;

// ScannedNode::flags: a start tag closed by "/>".
inline constexpr uint32_t kEmptyTag = 1u << 16;

// Scanner state over a NUL-terminated text. The first NUL is the end of the
// text for the scanner, wherever it lies.
struct ScanCursor {
  const char* text = nullptr;
  int32_t next = 0;        // where the next node begins
  int32_t name_start = 0;  // last name found (end tag or ScanName) ...
  int32_t name_end = -1;   // ... inclusive; name_end < name_start if empty
};

struct ScannedNode {
  int kind = kEndOfText;
  int32_t start = 0;
  int32_t length = 0;
  uint32_t flags = 0;
  // The tag name of a start tag, the target of a processing instruction, or
  // the message of an error node.
  std::string name;
};

// Scans one node at cursor->next in a single pass and advances the cursor
// past it. Returns the node's kind; kEndOfText when nothing is left. The
// name of an end tag is left in the cursor's name bounds.
int NextNode(ScanCursor* cursor, ScannedNode* node);

// Skips white space from cursor->next and takes the following name: bytes up
// to one of " \t\n\r<>=\\/?!" (that byte alone if the name would be empty).
// Sets the name bounds and moves cursor->next past the name. False when only
// white space is left.
bool ScanName(ScanCursor* cursor);

// Advances *offset over spaces, tabs, LFs and CRs. True unless it stops on
// the end of the text.
bool SkipSpace(const char* text, int32_t* offset);

// True when the cursor's name equals the first bytes of `name` and `name`
// ends there or continues with one of " =/[]" ("item" matches "item x").
bool MatchName(const ScanCursor& cursor, std::string_view name);

// True for a byte that may start a tag name: "A"-"Z", "_", ":", or any byte
// from 0x61 up (lower case letters and all bytes of multi-byte characters).
inline bool IsNameStartByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x61;
}

// True for a byte that ends the name ScanName takes.
inline bool IsNameStopByte(unsigned char c) {
  return c == 0 ||
         std::string_view(" \t\n\r<>=\\/?!").find(static_cast<char>(c)) !=
             std::string_view::npos;
}

}  // namespace vm

#endif  // VM_XML_XML_SCANNER_H_
