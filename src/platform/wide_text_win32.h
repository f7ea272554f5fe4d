#ifndef VM_PLATFORM_WIDE_TEXT_WIN32_H_
#define VM_PLATFORM_WIDE_TEXT_WIN32_H_

#include <string>
#include <string_view>

namespace vm {

// The one place where the Windows code converts between byte strings and
// the UTF-16 the wide-character calls take. A code page is a Windows code
// page number (CP_UTF8 included).

// `text` in UTF-16. Strict: false, with *wide empty, when its bytes are not
// valid in the code page. Lenient: every byte converts, an invalid one to
// U+FFFD.
bool ToWide(unsigned int code_page, std::string_view text, std::wstring* wide,
            bool strict = true);

// `wide` in the code page. False when the code page cannot hold it exactly
// (no best-fit look-alikes, and an unpaired surrogate has no form in any
// code page): *text then has '?', which no Windows name contains, for each
// character it lacks.
bool FromWide(unsigned int code_page, std::wstring_view wide,
              std::string* text);

// `wide` in UTF-8 ('?' for an unpaired surrogate).
std::string WideToUtf8(std::wstring_view wide);

// `utf8` in UTF-16, leniently (an invalid byte becomes U+FFFD): for texts
// shown to the user, never for paths.
std::wstring Utf8ToWide(std::string_view utf8);

// A full path in the form that reaches the system whatever its length:
// a drive path gets the prefix "\\?\" (C:\a becomes \\?\C:\a), a UNC
// path "\\?\UNC\" (\\server\share becomes \\?\UNC\server\share), after the
// system has resolved "." and ".." and made "/" a separator as it would
// without the prefix. A
// path that has a prefix already, or is not a full path (relative, or
// relative to a drive's current folder), is returned as it is.
std::wstring LongPathForm(const std::wstring& path);

// An ANSI path for the wide-character calls: converted strictly and in the
// long form. False for a path whose bytes the code page does not hold, or
// with a NUL in it: such a path fails, it never names some other file.
bool ToWidePath(unsigned int code_page, const std::string& path,
                std::wstring* wide);

}  // namespace vm

#endif  // VM_PLATFORM_WIDE_TEXT_WIN32_H_
