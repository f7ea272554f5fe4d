#ifndef VM_XML_XML_DOCUMENT_H_
#define VM_XML_XML_DOCUMENT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/element_table.h"

namespace vm {

struct ScannedNode;

// Option bits of NewElement. Every caller in this program passes kAsChild.
inline constexpr uint32_t kAsCdata = 0x0001;         // text via WrapInCdata
inline constexpr uint32_t kSpacedEmpty = 0x0004;     // "<name />" not "<name/>"
inline constexpr uint32_t kKeepReferences = 0x0008;  // see EncodeEntities
inline constexpr uint32_t kNoEndTag = 0x0010;        // lone "<name>"
inline constexpr uint32_t kEscapeQuotes = 0x0100;    // see EncodeEntities
inline constexpr uint32_t kInsertBefore = 0x2000;    // before the reference
inline constexpr uint32_t kAsChild = 0x4000;         // child of current

// The bytes NewElement wrote around a new element: its element markup lies
// between `before` and `after`, and the three took the place of `replaced`
// (a parent's "/" when "<a/>" was opened up, else nothing). Later children
// of the element go inside it, so this stays the layout around it.
struct InsertionLayout {
  std::string before;
  std::string after;
  std::string replaced;
  bool operator==(const InsertionLayout&) const = default;
};

// One element for RemoveElements, with the layout its insertion wrote.
struct ElementRemoval {
  int32_t element = 0;
  InsertionLayout layout;
};

// An XML document kept as its exact text plus an index of its elements.
//
// The text is the file, byte for byte: nothing is ever re-serialised. Reading
// cuts values out of the text; NewElement splices new markup into it and
// patches the index so that it stays equal to what a fresh parse of the new
// text would give. Bytes are never decoded (the text is in the ANSI code
// page), except numeric character references in ElementText.
//
// Navigation uses three element indexes (0 = none):
//   parent position  - the element whose children are walked (0 = top level)
//   current position - a child of the parent position (0 = before the first)
//   child position   - a child of the current element (0 = before the first)
//
// Not thread-safe; one thread at a time per instance.
class XmlDocument {
 public:
  // An empty document: error text "Empty document", not well-formed.
  XmlDocument();
  ~XmlDocument();

  // Copies are independent documents (see CopyFrom).
  XmlDocument(const XmlDocument& other);
  XmlDocument& operator=(const XmlDocument& other);
  // A move takes the text and the index without copying them; the
  // moved-from document is the empty document.
  XmlDocument(XmlDocument&& other);
  XmlDocument& operator=(XmlDocument&& other);

  // Replaces the text and parses it. Returns CheckWellFormed(). A null
  // pointer is the empty text; the pointer form reads up to the first NUL.
  // The string form keeps every byte; scanning stops at an embedded NUL
  // (whatever follows it is kept in the text but never indexed).
  // A text of kMaxTextLength bytes or more is refused: the document is
  // then empty with error text "Document too large".
  bool LoadText(const char* text);
  bool LoadText(std::string text);

  // True when the last parse met no error, and the text has exactly one
  // top-level element.
  bool CheckWellFormed() const;

  // The document text; saving the file writes exactly these bytes.
  const std::string& DocumentText() const { return text_; }
  // Empty when the last parse found no problem, else its first message.
  const std::string& ErrorText() const { return error_; }

  // Makes this document an independent copy of `other`: text, error text,
  // positions and the element index.
  void CopyFrom(const XmlDocument& other);

  // ---- Navigation ----

  // Sets the three positions. Returns false and changes nothing when an
  // index is negative or does not name an element of the index.
  bool MoveTo(int32_t parent, int32_t current, int32_t child);
  int32_t ParentPosition() const { return parent_; }
  int32_t CurrentPosition() const { return current_; }
  int32_t ChildPosition() const { return child_; }

  // Finds the next element called `name` among the children of the parent
  // position, after the current element (from the first child when the
  // current position is 0). On success: current := found, parent := its
  // parent, child := 0. On failure nothing changes. An empty name finds the
  // next element whatever its name. Names match by MatchName: "item" does
  // not find "items"; "item x" finds "item".
  bool SeekElement(std::string_view name = {});

  // If the current position is 0, first moves to the first element of the
  // level (SeekElement with no name). Then finds the next element called
  // `name` among the children of the current element, after the child
  // position. On success: child := found, current := its parent, parent :=
  // the parent of that.
  bool SeekChild(std::string_view name = {});

  // Steps into the current element: parent := current, current := child,
  // child := 0. False (no change) when the current position is 0.
  bool EnterElement();

  // The tag name of element `index`; empty for 0 or an invalid index.
  std::string ElementName(int32_t index) const;

  // The text of element `index`: empty when it has element children or no
  // content; otherwise its text nodes decoded with DecodeEntities and its
  // CDATA sections verbatim, concatenated; comments, processing
  // instructions and white-space-only nodes contribute nothing.
  std::string ElementText(int32_t index) const;

  std::string ChildText() const { return ElementText(child_); }

  // ---- Editing ----

  // Creates element `name` with `text` (may be empty) and writes it into the
  // text on a line of its own, ended by CR LF, without indentation.
  // With kAsChild it becomes a child of the current element placed after
  // the child position (first when kInsertBefore and child position 0);
  // afterwards the current element stays and the child position names the
  // new element. Without kAsChild it becomes a sibling after (or before,
  // with kInsertBefore) the current element and becomes the current
  // element itself. An element written as "<a/>", "<a />" or a lone "<a>"
  // is opened up with an end tag when it receives its first child.
  //
  // Returns false and changes nothing when: kAsChild is given but the
  // current position is 0; kNoEndTag is given with a non-empty text; the
  // name is not a plain tag name (empty, or holding white space or one of
  // < > = \ / ? ! or NUL, or not starting with a name-start byte); the text
  // holds a NUL byte; the positions are inconsistent (the reference element
  // is not a child of the chosen parent); or the text would reach
  // kMaxTextLength.
  bool NewElement(std::string_view name, std::string_view text,
                  uint32_t options);
  // NewElement with `number` written in decimal ("%d").
  bool NewElementNumber(std::string_view name, int32_t number,
                        uint32_t options);

  // Makes room for a text of `bytes` bytes without changing it, so that
  // additions up to that size never copy the text to grow it (a copy holds
  // the text twice for a moment). Room never used is never touched.
  void ReserveText(size_t bytes);

  // What the last successful NewElement wrote around its element.
  const InsertionLayout& LastInsertion() const { return last_insertion_; }

  // Takes the elements out of the text, one after another in the order
  // given (newest insertion first, so that each finds the layout it wrote).
  // Each element goes with its layout, and `replaced` is put back, when the
  // bytes in front of and after it are exactly `before` and `after`: an
  // insertion undone that way leaves the text as it was before it, byte for
  // byte. When a neighbour was written into that layout since, the element
  // goes with the line end (CR LF or LF) that follows it, or alone. Every
  // other byte stays. The text is then parsed again, and the positions are
  // 0.
  //
  // Returns false and changes nothing when an index is not an element
  // (0 included), an element is listed twice or lies inside another listed
  // one, or a well-formed document would not stay well-formed.
  bool RemoveElements(const std::vector<ElementRemoval>& removals);

  // ---- The element index, read-only (for stores' diagnostics and tests) ----

  // Index 0 is the document record; elements are 1 .. ElementCount() - 1.
  int32_t ElementCount() const { return next_free_; }
  // The record of `index`; must be in [0, ElementCount()).
  const ElementRecord& Element(int32_t index) const { return table_[index]; }

  // Texts must stay addressable with signed 32-bit offsets.
  static constexpr size_t kMaxTextLength = 0x7FFF0000;

 private:
  struct Splice;
  struct OpenElement;
  struct TreeBuild;

  // Parsing (xml_parser.cc).
  void Reparse();
  int32_t BuildTree();
  int32_t AppendElement(const ScannedNode& node, int32_t parent);
  void EndElement(TreeBuild* build, const ScannedNode& node);
  void EndText(TreeBuild* build);
  void MarkError(int32_t element);
  bool CloseNotEnded(const std::vector<OpenElement>& open, int32_t from,
                     int32_t depth);
  void RepairParents();

  // Navigation helpers (xml_navigation.cc).
  bool ValidIndex(int32_t index) const {
    return index >= 0 && index < next_free_;
  }
  bool NameMatches(int32_t index, std::string_view name) const;

  // Editing (xml_editing.cc).
  std::string StartTagName(int32_t index) const;
  Splice SpliceMarkup(int32_t parent, int32_t ref, uint32_t options,
                      std::string markup);
  void WriteText(int32_t offset, int32_t replaced, const std::string& markup);
  void LinkElement(int32_t parent, int32_t ref, int32_t n);
  void ShiftOffsets(int32_t n, int32_t delta);
  void ShiftSubtree(int32_t root, int32_t delta);

  // Removal (xml_removal.cc).
  bool RemovableSet(const std::vector<ElementRemoval>& removals) const;

  int32_t TakeRecord();
  ElementRecord& Rec(int32_t index) { return table_[index]; }
  const ElementRecord& Rec(int32_t index) const { return table_[index]; }

  std::string text_;
  std::string error_;
  int32_t parent_ = 0;
  int32_t current_ = 0;
  int32_t child_ = 0;
  int32_t next_free_ = 1;
  ElementTable table_;
  InsertionLayout last_insertion_;
};

}  // namespace vm

#endif  // VM_XML_XML_DOCUMENT_H_
