#ifndef VM_PLATFORM_CONFINED_WALK_WIN32_H_
#define VM_PLATFORM_CONFINED_WALK_WIN32_H_

#include <windows.h>

#include <string>
#include <vector>

// The steps of a confined view of the Windows disk: where a path lies
// against a trusted folder, and the walk down from that folder that opens
// every folder on the way as itself (FILE_FLAG_OPEN_REPARSE_POINT), refuses
// any that is a reparse point with kLinkRefused, and holds it without
// delete sharing, so that no folder on the way can be renamed, removed or
// replaced while an operation uses the path. Codes are Win32 error codes,
// ERROR_SUCCESS when a step succeeded.
namespace vm {

// `path` made full in the long form ("\\?\C:\a\b", "/" taken for "\", "."
// and ".." resolved as the system resolves them), without a trailing
// separator; empty when the system cannot make it full.
std::wstring FullForm(const std::wstring& path);

// `path` as it is spelt, in the long form but with nothing resolved: "/"
// taken for "\" and a drive path prefixed, so that its beginning compares
// with FullForm of a folder.
std::wstring SpeltForm(const std::wstring& path);

// Whether a part of `path` is "..", or another name of dots (and spaces)
// alone that the system takes for one.
bool HasParentPart(const std::wstring& path);

// Whether the long-form path `path` is the folder `folder` or lies below
// it, letters compared without case; the parts below it go to *parts.
bool SplitBeneath(const std::wstring& path, const std::wstring& folder,
                  std::vector<std::wstring>* parts);

// `folder` followed by the first `count` of `parts`.
std::wstring JoinParts(const std::wstring& folder,
                       const std::vector<std::wstring>& parts, size_t count);

// Folders opened on the way down, held until destroyed.
class HeldFolders {
 public:
  HeldFolders() = default;
  HeldFolders(const HeldFolders&) = delete;
  HeldFolders& operator=(const HeldFolders&) = delete;
  ~HeldFolders();
  void Hold(HANDLE folder) { held_.push_back(folder); }

 private:
  std::vector<HANDLE> held_;
};

// Opens the folder `path` as itself, without delete sharing: kLinkRefused
// for a reparse point, ERROR_DIRECTORY for anything but a folder.
DWORD OpenFolderHeld(const std::wstring& path, HANDLE* folder);

// Opens and holds each of the first `count` parts below `folder` (which
// the caller holds), in order.
DWORD WalkDown(const std::wstring& folder,
               const std::vector<std::wstring>& parts, size_t count,
               HeldFolders* held);

// kLinkRefused when the entry open as `handle` at `path` is a reparse
// point, as its handle or its name tells (Wine shows a link made outside
// it only by name); else its attributes go to *attributes.
DWORD RefuseLink(HANDLE handle, const std::wstring& path, DWORD* attributes);

// Whether an entry is at `path` (*exists) and, when it is, its attributes;
// kLinkRefused for a reparse point.
DWORD InspectEntry(const std::wstring& path, bool* exists, DWORD* attributes);

// Removes the file (or, with `folder`, the empty folder) `path` through a
// handle opened to it as itself: a reparse point is refused, never
// removed. ERROR_SUCCESS also when nothing is there.
DWORD RemoveByHandle(const std::wstring& path, bool folder);

// Gives the folder (or, without `folder`, the file) `from` the full name
// `to` through a handle opened to it as itself, never in place of an
// existing entry.
DWORD RenameByHandle(const std::wstring& from, const std::wstring& to,
                     bool folder);

}  // namespace vm

#endif  // VM_PLATFORM_CONFINED_WALK_WIN32_H_
