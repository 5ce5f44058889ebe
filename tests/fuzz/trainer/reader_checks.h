// What the trainer readers' fuzzers share: the failure report and the rules every message of a
// reader keeps, whatever the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace fuzz_trainer {

// Long enough for any message about a short name and a short quoted prefix of the bad text,
// escapes included; a message that grows with the input runs past it.
constexpr std::size_t kMaxMessage = 512;

// `text` with control bytes as \xNN and cut at 300 bytes, fit for a failure report.
inline std::string printable(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < 300; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return text.size() > 300 ? out + "... (" + std::to_string(text.size()) + " bytes)" : out;
}

[[noreturn]] inline void violated(const char* file, int line, const char* what,
                                  const std::string& detail) {
  std::fprintf(stderr, "%s:%d: promise broken: %s\n", file, line, what);
  if (!detail.empty()) std::fprintf(stderr, "  %s\n", printable(detail).c_str());
  std::abort();
}

#define CHECK(condition, detail)                                                      \
  do {                                                                                \
    if (!(condition)) fuzz_trainer::violated(__FILE__, __LINE__, #condition, detail); \
  } while (0)

inline bool has_control_byte(const std::string& text) {
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// A reader's message says something, names what it read (when it has a name), stays short
// whatever the input, and holds no raw NUL or control byte: a terminal shows it as written.
inline void check_message(const std::string& message, const std::string& name) {
  CHECK(!message.empty(), message);
  CHECK(name.empty() || message.find(name) != std::string::npos, message);
  CHECK(message.size() <= kMaxMessage, message);
  CHECK(!has_control_byte(message), message);
}

inline bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace fuzz_trainer
