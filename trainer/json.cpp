#include "trainer/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <unordered_set>

#include "trainer/excerpt.h"

namespace trainer {
namespace {

// Deep enough for any real file, shallow enough that hostile nesting cannot exhaust the stack.
constexpr int kMaxDepth = 256;

// The members of an object, by index, hashed by key: each key is checked against the others
// in about constant time rather than against every one before it.
class KeyHash {
 public:
  KeyHash(const JsonValue& object, WorkCounter* counter) : object_(&object), counter_(counter) {}
  std::size_t operator()(std::size_t index) const {
    const std::string& key = object_->members[index].first;
    count_work(counter_, key.size() + 1);
    return std::hash<std::string>()(key);
  }

 private:
  const JsonValue* object_;
  WorkCounter* counter_;
};

class SameKey {
 public:
  SameKey(const JsonValue& object, WorkCounter* counter) : object_(&object), counter_(counter) {}
  bool operator()(std::size_t a, std::size_t b) const {
    count_work(counter_);
    return object_->members[a].first == object_->members[b].first;
  }

 private:
  const JsonValue* object_;
  WorkCounter* counter_;
};

class Parser {
 public:
  Parser(std::string_view text, WorkCounter* counter) : text_(text), counter_(counter) {}

  JsonValue document() {
    skip_space();
    JsonValue value = parse_value(0);
    skip_space();
    if (position_ != text_.size()) fail("unexpected text after the JSON value");
    return value;
  }

 private:
  [[noreturn]] void fail(const std::string& message) const {
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i < position_ && i < text_.size(); ++i) {
      if (text_[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    throw JsonError("line " + std::to_string(line) + ", column " + std::to_string(column) + ": " +
                    message);
  }

  bool at_end() const { return position_ >= text_.size(); }
  char peek() const { return at_end() ? '\0' : text_[position_]; }

  void skip_space() {
    const std::size_t start = position_;
    while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
      ++position_;
    }
    count_work(counter_, position_ - start + 1);
  }

  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++position_;
  }

  void expect_word(std::string_view word) {
    if (text_.substr(position_, word.size()) != word) fail("not a JSON value");
    position_ += word.size();
  }

  JsonValue parse_value(int depth) {
    if (depth > kMaxDepth) fail("nested too deeply");
    JsonValue value;
    switch (peek()) {
      case '{':
        value.kind = JsonValue::Kind::object;
        parse_object(value, depth);
        break;
      case '[':
        value.kind = JsonValue::Kind::array;
        parse_array(value, depth);
        break;
      case '"':
        value.kind = JsonValue::Kind::string;
        value.text = parse_string();
        break;
      case 't':
        expect_word("true");
        value.kind = JsonValue::Kind::boolean;
        value.boolean = true;
        break;
      case 'f':
        expect_word("false");
        value.kind = JsonValue::Kind::boolean;
        break;
      case 'n':
        expect_word("null");
        break;
      default:
        value.kind = JsonValue::Kind::number;
        parse_number(value);
    }
    return value;
  }

  void parse_object(JsonValue& object, int depth) {
    expect('{');
    skip_space();
    if (peek() == '}') {
      ++position_;
      return;
    }
    std::unordered_set<std::size_t, KeyHash, SameKey> keys(0, KeyHash(object, counter_),
                                                           SameKey(object, counter_));
    for (;;) {
      skip_space();
      if (peek() != '"') fail("expected a key in double quotes");
      const std::size_t key_position = position_;
      object.members.emplace_back(parse_string(), JsonValue());
      if (!keys.insert(object.members.size() - 1).second) {
        position_ = key_position;
        fail("the key \"" + excerpt(object.members.back().first) + "\" appears twice");
      }
      skip_space();
      expect(':');
      skip_space();
      object.members.back().second = parse_value(depth + 1);
      skip_space();
      if (peek() == '}') {
        ++position_;
        return;
      }
      expect(',');
    }
  }

  void parse_array(JsonValue& array, int depth) {
    expect('[');
    skip_space();
    if (peek() == ']') {
      ++position_;
      return;
    }
    // Numbers go straight into `numbers` until an item of another kind comes, when they move
    // to `items` as the values they were read as.
    std::vector<bool> whole;
    for (;;) {
      skip_space();
      JsonValue item = parse_value(depth + 1);
      if (item.kind == JsonValue::Kind::number && array.items.empty()) {
        array.numbers.push_back(item.number);
        whole.push_back(item.whole_number);
      } else {
        if (!array.numbers.empty()) to_items(array, whole);
        array.items.push_back(std::move(item));
      }
      skip_space();
      if (peek() == ']') {
        ++position_;
        return;
      }
      expect(',');
    }
  }

  static void to_items(JsonValue& array, const std::vector<bool>& whole) {
    for (std::size_t i = 0; i < array.numbers.size(); ++i) {
      JsonValue number;
      number.kind = JsonValue::Kind::number;
      number.number = array.numbers[i];
      number.whole_number = whole[i];
      array.items.push_back(std::move(number));
    }
    array.numbers.clear();
    array.numbers.shrink_to_fit();
  }

  unsigned hex4() {
    unsigned code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = peek();
      unsigned digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A' + 10);
      } else {
        fail("\\u needs four hexadecimal digits");
      }
      code = code * 16 + digit;
      ++position_;
    }
    return code;
  }

  static void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string parse_string() {
    expect('"');
    std::string out;
    for (;;) {
      if (at_end()) fail("a string is not closed");
      count_work(counter_);
      const char c = text_[position_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) {
        --position_;
        fail("a control character inside a string");
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      const char escape = peek();
      ++position_;
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out += escape;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t code = hex4();
          if (code >= 0xD800 && code < 0xDC00 && text_.substr(position_, 2) == "\\u") {
            position_ += 2;
            const std::uint32_t low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) fail("a lone surrogate in \\u escapes");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xD800 && code <= 0xDFFF) {
            fail("a lone surrogate in \\u escapes");
          }
          append_utf8(out, code);
          break;
        }
        default:
          --position_;
          fail("an unknown escape in a string");
      }
    }
  }

  bool digit() const { return peek() >= '0' && peek() <= '9'; }

  void parse_number(JsonValue& value) {
    const std::size_t start = position_;
    if (peek() == '-') ++position_;
    if (peek() == '0') {
      ++position_;
    } else if (digit()) {
      while (digit()) ++position_;
    } else {
      fail("not a JSON value");
    }
    value.whole_number = true;
    if (peek() == '.') {
      ++position_;
      if (!digit()) fail("a digit must follow the decimal point");
      while (digit()) ++position_;
      value.whole_number = false;
    }
    if (peek() == 'e' || peek() == 'E') {
      ++position_;
      if (peek() == '+' || peek() == '-') ++position_;
      if (!digit()) fail("a digit must follow the exponent mark");
      while (digit()) ++position_;
      value.whole_number = false;
    }
    const std::string_view token = text_.substr(start, position_ - start);
    count_work(counter_, token.size());
    const auto [end, error] =
        std::from_chars(token.data(), token.data() + token.size(), value.number);
    if (error == std::errc::result_out_of_range) {
      // Below the smallest double reads as zero, as in every JSON reader; above is refused.
      value.number = std::strtod(std::string(token).c_str(), nullptr);
      if (!std::isfinite(value.number)) {
        position_ = start;
        fail("the number " + std::string(token.substr(0, 40)) + " is beyond the range of doubles");
      }
    } else if (error != std::errc() || end != token.data() + token.size()) {
      position_ = start;
      fail("not a number");
    }
  }

  std::string_view text_;
  WorkCounter* counter_;
  std::size_t position_ = 0;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  for (const auto& member : members) {
    if (member.first == key) return &member.second;
  }
  return nullptr;
}

JsonValue* JsonValue::find(std::string_view key) {
  return const_cast<JsonValue*>(static_cast<const JsonValue*>(this)->find(key));
}

JsonValue parse_json(std::string_view text, WorkCounter* counter) {
  return Parser(text, counter).document();
}

std::string format_double(double value) {
  // Shortest round trip in scientific form, e.g. "-1.25e-07", then laid out as Python does:
  // positional from 1e-4 up to 1e16, exponent form outside.
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const bool negative = text.front() == '-';
  const auto mark = text.find('e');
  std::string digits;
  for (const char c : text.substr(negative ? 1 : 0, mark - (negative ? 1 : 0))) {
    if (c != '.') digits += c;
  }
  const int exponent = std::atoi(std::string(text.substr(mark + 1)).c_str());

  std::string out = negative ? "-" : "";
  const int point = exponent + 1;  // digits before the decimal point
  const int count = static_cast<int>(digits.size());
  if (exponent >= -4 && exponent < 16) {
    if (point <= 0) {
      out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    } else if (point < count) {
      out += digits.substr(0, static_cast<std::size_t>(point)) + "." +
             digits.substr(static_cast<std::size_t>(point));
    } else {
      out += digits + std::string(static_cast<std::size_t>(point - count), '0') + ".0";
    }
  } else {
    out += digits.substr(0, 1);
    if (count > 1) out += "." + digits.substr(1);
    char exponent_text[16];
    std::snprintf(exponent_text, sizeof exponent_text, "e%c%02d", exponent < 0 ? '-' : '+',
                  std::abs(exponent));
    out += exponent_text;
  }
  return out;
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace trainer
