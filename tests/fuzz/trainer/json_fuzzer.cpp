// The JSON parser on any bytes: it refuses with a short, printable message, or it gives a value
// that, written out with the trainer's own number and string writers, reads back the same; and
// nothing may follow an accepted value.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_set>
#include <vector>

#include "tests/fuzz/trainer/reader_checks.h"
#include "trainer/json.h"

namespace {

using trainer::JsonValue;

constexpr int kMaxNesting = 256;

void write(const JsonValue& value, std::string& out) {
  switch (value.kind) {
    case JsonValue::Kind::null:
      out += "null";
      break;
    case JsonValue::Kind::boolean:
      out += value.boolean ? "true" : "false";
      break;
    case JsonValue::Kind::number:
      if (value.whole_number) {
        // Every whole number read is a whole double; its exact digits read back as itself and
        // keep it whole.
        char digits[400];
        std::snprintf(digits, sizeof digits, "%.0f", value.number);
        out += digits;
      } else {
        out += trainer::format_double(value.number);
      }
      break;
    case JsonValue::Kind::string:
      out += trainer::json_string(value.text);
      break;
    case JsonValue::Kind::array:
      out += '[';
      for (std::size_t i = 0; i < value.numbers.size(); ++i) {
        out += (i > 0 ? ", " : "") + trainer::format_double(value.numbers[i]);
      }
      for (std::size_t i = 0; i < value.items.size(); ++i) {
        if (i > 0) out += ", ";
        write(value.items[i], out);
      }
      out += ']';
      break;
    case JsonValue::Kind::object:
      out += '{';
      for (std::size_t i = 0; i < value.members.size(); ++i) {
        if (i > 0) out += ", ";
        out += trainer::json_string(value.members[i].first) + ": ";
        write(value.members[i].second, out);
      }
      out += '}';
      break;
  }
}

bool same(const JsonValue& a, const JsonValue& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case JsonValue::Kind::null:
      return true;
    case JsonValue::Kind::boolean:
      return a.boolean == b.boolean;
    case JsonValue::Kind::number:
      return fuzz_trainer::same_bits(a.number, b.number) && a.whole_number == b.whole_number;
    case JsonValue::Kind::string:
      return a.text == b.text;
    case JsonValue::Kind::array:
      if (a.numbers.size() != b.numbers.size() || a.items.size() != b.items.size()) return false;
      for (std::size_t i = 0; i < a.numbers.size(); ++i) {
        if (!fuzz_trainer::same_bits(a.numbers[i], b.numbers[i])) return false;
      }
      for (std::size_t i = 0; i < a.items.size(); ++i) {
        if (!same(a.items[i], b.items[i])) return false;
      }
      return true;
    case JsonValue::Kind::object:
      if (a.members.size() != b.members.size()) return false;
      for (std::size_t i = 0; i < a.members.size(); ++i) {
        if (a.members[i].first != b.members[i].first) return false;
        if (!same(a.members[i].second, b.members[i].second)) return false;
      }
      return true;
  }
  return false;
}

bool all_numbers(const std::vector<JsonValue>& items) {
  for (const JsonValue& item : items) {
    if (item.kind != JsonValue::Kind::number) return false;
  }
  return true;
}

// The parser's own promises on what it accepts: finite numbers, keys once per object, nesting
// no deeper than its limit; an array of numbers alone keeps them as numbers, any other array
// as items, and nothing else holds either.
void check_value(const JsonValue& value, int depth, const std::string& text) {
  CHECK(depth <= kMaxNesting + 1, text);
  if (value.kind == JsonValue::Kind::number) CHECK(std::isfinite(value.number), text);
  if (value.kind == JsonValue::Kind::array) {
    CHECK(value.numbers.empty() || value.items.empty(), text);
    CHECK(value.items.empty() || !all_numbers(value.items), text);
  } else {
    CHECK(value.numbers.empty() && value.items.empty(), text);
  }
  if (value.kind != JsonValue::Kind::object) CHECK(value.members.empty(), text);
  for (const double number : value.numbers) CHECK(std::isfinite(number), text);
  for (const JsonValue& item : value.items) check_value(item, depth + 1, text);
  std::unordered_set<std::string> keys;
  for (const auto& member : value.members) {
    CHECK(keys.insert(member.first).second, member.first);
    check_value(member.second, depth + 1, text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  JsonValue value;
  try {
    value = trainer::parse_json(text);
  } catch (const trainer::JsonError& error) {
    fuzz_trainer::check_message(error.what(), "");
    return 0;
  }
  check_value(value, 1, text);

  std::string again_text;
  write(value, again_text);
  JsonValue again;
  try {
    again = trainer::parse_json(again_text);
  } catch (const trainer::JsonError& error) {
    fuzz_trainer::violated(__FILE__, __LINE__, "a value it gave, written out, reads back",
                           std::string(error.what()) + " on " + again_text);
  }
  CHECK(same(again, value), again_text);

  bool trailing_refused = false;
  try {
    trainer::parse_json(text + ",");
  } catch (const trainer::JsonError&) {
    trailing_refused = true;
  }
  CHECK(trailing_refused, text);
  return 0;
}
