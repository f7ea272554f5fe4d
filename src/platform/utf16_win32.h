#ifndef VM_PLATFORM_UTF16_WIN32_H_
#define VM_PLATFORM_UTF16_WIN32_H_

#include <string>

// Conversions between the byte strings of a code page and UTF-16, for the
// Windows files: every wide-character call gets its text from here. (The
// code page is a Windows code page number, the flags those of
// MultiByteToWideChar.)
namespace vm {

// Lenient: without MB_ERR_INVALID_CHARS, invalid bytes become U+FFFD; *ok
// is false when nothing could be converted (an empty text is converted).
std::wstring ToWide(unsigned int code_page, const std::string& text,
                    unsigned long flags, bool* ok);
// Lenient: what the code page lacks becomes its default character.
std::string FromWide(unsigned int code_page, const std::wstring& wide);

// A path in UTF-16. False when its bytes are not valid in the code page
// (or hold a NUL): such a path fails, it never names some other file.
bool ToWide(unsigned int code_page, const std::string& path,
            std::wstring* wide);
// A name from the disk in the code page; false when the code page cannot
// hold it exactly (see the definition).
bool FromWide(unsigned int code_page, std::wstring wide, std::string* text);

std::string ToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& utf8);

}  // namespace vm

#endif  // VM_PLATFORM_UTF16_WIN32_H_
