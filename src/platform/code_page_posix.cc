#include "platform/code_page.h"

#include <errno.h>
#include <iconv.h>

#include <mutex>

namespace vm {
namespace {

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the UTF-8 sequence starting at `s` (at most `n` bytes left), or
// 1 when it is not a valid sequence, so that a bad byte is skipped alone.
size_t Utf8SequenceLength(const unsigned char* s, size_t n) {
  size_t len = 1;
  if (s[0] >= 0xC2 && s[0] <= 0xDF) {
    len = 2;
  } else if (s[0] >= 0xE0 && s[0] <= 0xEF) {
    len = 3;
  } else if (s[0] >= 0xF0 && s[0] <= 0xF4) {
    len = 4;
  }
  if (len > n) return 1;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 1;
  }
  return len;
}

// One direction of conversion. iconv descriptors carry state and are not
// safe to share between threads, so each use takes the mutex.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from, bool from_utf8)
      : cd_(iconv_open(to.c_str(), from.c_str())), from_utf8_(from_utf8) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of `in`. Bytes that cannot be converted are replaced by
  // `replacement` and conversion resumes after them. Returns false when any
  // replacement was made.
  bool Convert(const std::string& in, const std::string& replacement,
               std::string* out) const {
    std::lock_guard<std::mutex> guard(mutex_);
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out->clear();
    bool clean = true;
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char buffer[4096];
    while (src_left > 0) {
      char* dst = buffer;
      size_t dst_left = sizeof(buffer);
      size_t rc = iconv(cd_, &src, &src_left, &dst, &dst_left);
      int saved_errno = errno;
      out->append(buffer, dst - buffer);
      if (rc != static_cast<size_t>(-1)) continue;
      if (saved_errno == E2BIG) continue;
      // EILSEQ, EINVAL (truncated sequence at the end) or anything else:
      // replace the offending input and go on with the rest.
      clean = false;
      size_t skip = 1;
      if (from_utf8_ && saved_errno == EILSEQ) {
        skip =
            Utf8SequenceLength(reinterpret_cast<unsigned char*>(src), src_left);
      }
      out->append(replacement);
      src += skip;
      src_left -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    // Flush any shift state of stateful encodings.
    char* dst = buffer;
    size_t dst_left = sizeof(buffer);
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);
    out->append(buffer, dst - buffer);
    return clean;
  }

 private:
  iconv_t cd_;
  bool from_utf8_;
  mutable std::mutex mutex_;
};

bool IsAscii(const std::string& s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

class IconvCodePage : public CodePage {
 public:
  explicit IconvCodePage(const std::string& name)
      : to_ansi_(name, "UTF-8", true), to_utf8_("UTF-8", name, false) {
    if (!ok()) return;
    // Most ANSI code pages leave ASCII alone; then ASCII-only strings,
    // the common case for paths, need no conversion at all.
    std::string ascii;
    for (int c = 1; c < 0x80; ++c) ascii.push_back(static_cast<char>(c));
    std::string converted;
    ascii_identity_ =
        to_ansi_.Convert(ascii, "?", &converted) && converted == ascii &&
        to_utf8_.Convert(ascii, "?", &converted) && converted == ascii;
  }

  bool ok() const { return to_ansi_.ok() && to_utf8_.ok(); }

  std::string ToAnsi(const std::string& utf8) const override {
    if (ascii_identity_ && IsAscii(utf8)) return utf8;
    std::string out;
    to_ansi_.Convert(utf8, "?", &out);
    return out;
  }

  std::string ToUtf8(const std::string& ansi) const override {
    if (ascii_identity_ && IsAscii(ansi)) return ansi;
    std::string out;
    to_utf8_.Convert(ansi, kReplacementUtf8, &out);
    return out;
  }

  bool IsValidAnsi(const std::string& ansi) const override {
    if (ascii_identity_ && IsAscii(ansi)) return true;
    std::string out;
    return to_utf8_.Convert(ansi, kReplacementUtf8, &out);
  }

  // A byte that is no character alone but is one with some byte
  // 0x40-0xFE after it, as Windows has them. UTF-8 has none: no byte of
  // its multi-byte characters is ASCII.
  std::array<bool, 256> LeadBytes() const override {
    std::array<bool, 256> lead{};
    std::string utf8_probe = "\xE4\xB8\xAD";
    std::string converted;
    if (to_utf8_.Convert(utf8_probe, "?", &converted) &&
        converted == utf8_probe) {
      return lead;
    }
    for (int c = 0x80; c < 0x100; ++c) {
      std::string pair(1, static_cast<char>(c));
      if (IsValidAnsi(pair)) continue;
      for (int trail = 0x40; trail < 0xFF && !lead[c]; ++trail) {
        pair.resize(1);
        pair.push_back(static_cast<char>(trail));
        lead[c] = IsValidAnsi(pair);
      }
    }
    return lead;
  }

 private:
  Converter to_ansi_;
  Converter to_utf8_;
  bool ascii_identity_ = false;
};

}  // namespace

std::unique_ptr<CodePage> OpenCodePage(const std::string& name) {
  // POSIX has no system ANSI code page; the machines this tool serves use
  // GBK.
  auto code_page = std::make_unique<IconvCodePage>(name.empty() ? "GBK" : name);
  if (!code_page->ok()) return nullptr;
  return code_page;
}

}  // namespace vm
