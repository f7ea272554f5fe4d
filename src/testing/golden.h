#ifndef VM_TESTS_SUPPORT_GOLDEN_H_
#define VM_TESTS_SUPPORT_GOLDEN_H_

#include <fstream>
#include <sstream>
#include <string>

#include "gtest/gtest.h"

namespace vm {

// The bytes of a hand-written expected file under tests/data.
inline std::string Golden(const std::string& name) {
  std::ifstream in(std::string(VM_TEST_DATA_DIR) + "/" + name,
                   std::ios::binary);
  EXPECT_TRUE(in.good()) << "no golden file " << name;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Control and non-ASCII bytes as \r \n \t or \xNN, a backslash doubled.
inline std::string Escape(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7f) {
      out += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

inline std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = i + 1 < text.size() && text[i] == '\\' ? text[++i] : 0;
    if (c == 0) {
      out += text[i];
    } else if (c == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
  }
  return out;
}

// A table of expected results in a golden file: each line is
// "input => output" (escaped as Escape writes), "#" lines are comments.
// Runs `result` on every input and compares the whole text with the file.
template <typename Result>
void ExpectGoldenTable(const std::string& name, Result result) {
  const std::string golden = Golden(name);
  std::istringstream lines(golden);
  std::string got;
  for (std::string line; std::getline(lines, line);) {
    const std::string input = line.substr(0, line.find(" => "));
    if (line.empty() || line[0] == '#') {
      got += line + "\n";
    } else {
      got += input + " => " + Escape(result(Unescape(input))) + "\n";
    }
  }
  EXPECT_EQ(got, golden) << "in " << name;
}

}  // namespace vm

#endif  // VM_TESTS_SUPPORT_GOLDEN_H_
