// Strict JSON in and Python's float text out, for weights files the Python package also reads.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <regex>
#include <string>

#include "trainer/json.h"

namespace trainer {
namespace {

double from_text(const std::string& text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_TRUE(error == std::errc() && end == text.data() + text.size()) << text;
  return value;
}

std::uint64_t bits_of(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Significant digits in a decimal text: no sign, point, exponent, or zeros at either end.
std::size_t significant_digits(const std::string& text) {
  std::string digits;
  for (const char c : text.substr(0, text.find('e'))) {
    if (c >= '0' && c <= '9') digits += c;
  }
  const auto first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  return digits.find_last_not_of('0') - first + 1;
}

TEST(FormatDouble, WritesWhatPythonReprWrites) {
  // Expected texts from python3: repr(float).
  const std::pair<double, const char*> cases[] = {
      {0.1, "0.1"},
      {2.0, "2.0"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
      {-1.5, "-1.5"},
      {100.0, "100.0"},
      {12345.678, "12345.678"},
      {1e-05, "1e-05"},
      {1.5e-05, "1.5e-05"},
      {0.0001, "0.0001"},
      {0.00012345, "0.00012345"},
      {1e16, "1e+16"},
      {9999999999999998.0, "9999999999999998.0"},
      {1000000000000000.0, "1000000000000000.0"},
      {123456789012345678.0, "1.2345678901234568e+17"},
      {1e22, "1e+22"},
      {5e-324, "5e-324"},
      {2.2250738585072014e-308, "2.2250738585072014e-308"},
      {1.7976931348623157e+308, "1.7976931348623157e+308"},
      {1.0 / 3.0, "0.3333333333333333"},
      {0.1 + 0.2, "0.30000000000000004"},
      {-2.5e-07, "-2.5e-07"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(format_double(value), text);
}

// Over random bit patterns: exact round trip, no shorter text would do, and Python's layout.
TEST(FormatDouble, RoundTripsShortestInPythonsLayout) {
  const std::regex positional(R"(-?(0|[1-9][0-9]*)\.(0|[0-9]*[1-9]))");
  const std::regex exponential(R"(-?[1-9](\.[0-9]*[1-9])?e[-+](0[1-9]|[1-9][0-9]{1,2}))");
  std::mt19937_64 random(20240611);
  int checked = 0;
  for (int i = 0; i < 40000; ++i) {
    std::uint64_t bits = random();
    // Half the draws land near the switch between the layouts, 1e-4 and 1e16.
    if (i % 2 == 1) {
      const std::uint64_t exponent = 1023 - 40 + random() % 100;
      bits = (bits & ~(std::uint64_t{0x7FF} << 52)) | (exponent << 52);
    }
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    ++checked;
    const std::string text = format_double(value);
    ASSERT_EQ(bits_of(from_text(text)), bits) << text;
    const std::size_t digits = significant_digits(text);
    if (digits > 1) {
      char shorter[64];
      std::snprintf(shorter, sizeof shorter, "%.*e", static_cast<int>(digits) - 2, value);
      ASSERT_NE(bits_of(std::strtod(shorter, nullptr)), bits)
          << text << " is longer than " << shorter;
    }
    const double size = std::fabs(value);
    const bool expect_positional = size == 0.0 || (size >= 1e-4 && size < 1e16);
    ASSERT_TRUE(std::regex_match(text, expect_positional ? positional : exponential)) << text;
  }
  EXPECT_GT(checked, 39000);
}

TEST(JsonString, ParsesBackToTheSameBytes) {
  EXPECT_EQ(json_string("a\"b\\c/"), "\"a\\\"b\\\\c/\"");
  std::string every_byte;
  for (int c = 0; c < 256; ++c) every_byte += static_cast<char>(c);
  EXPECT_EQ(parse_json(json_string(every_byte)).text, every_byte);
}

TEST(ParseJson, ReadsNestedValuesInOrder) {
  const JsonValue value = parse_json(
      " {\"a\": [1, -2.5e3, true, false, null, {\"b\": []}],\r\n\t\"c\": {}, \"d\": \"x\"} ");
  ASSERT_EQ(value.kind, JsonValue::Kind::object);
  ASSERT_EQ(value.members.size(), 3u);
  EXPECT_EQ(value.members[0].first, "a");
  EXPECT_EQ(value.members[2].first, "d");
  const JsonValue& a = *value.find("a");
  ASSERT_EQ(a.items.size(), 6u);
  EXPECT_EQ(a.items[0].number, 1.0);
  EXPECT_EQ(a.items[1].number, -2500.0);
  EXPECT_TRUE(a.items[2].boolean);
  EXPECT_EQ(a.items[3].kind, JsonValue::Kind::boolean);
  EXPECT_FALSE(a.items[3].boolean);
  EXPECT_EQ(a.items[4].kind, JsonValue::Kind::null);
  EXPECT_EQ(a.items[5].find("b")->kind, JsonValue::Kind::array);
  EXPECT_EQ(value.find("c")->kind, JsonValue::Kind::object);
  EXPECT_EQ(value.find("d")->text, "x");
  EXPECT_EQ(value.find("e"), nullptr);
}

TEST(ParseJson, DecodesEscapes) {
  // Expected bytes from python3: json.loads(...).encode().
  EXPECT_EQ(parse_json(R"("\"\\\/\b\f\n\r\t\u0041\u00e9\u20AC\ud83d\ude00")").text,
            "\"\\/\b\f\n\r\tA\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(parse_json("\"caf\xC3\xA9\x7F\"").text, "caf\xC3\xA9\x7F");
}

TEST(ParseJson, NumbersKeepWhetherTheyWereWhole) {
  const JsonValue whole = parse_json("-0");
  EXPECT_TRUE(whole.whole_number);
  EXPECT_TRUE(std::signbit(whole.number));
  EXPECT_TRUE(parse_json("12345678901234567890").whole_number);
  for (const char* text : {"3.0", "3e0", "1E+2", "0.5"})
    EXPECT_FALSE(parse_json(text).whole_number);
  EXPECT_EQ(parse_json("1e-400").number, 0.0);
  EXPECT_EQ(parse_json("5e-324").number, 5e-324);
  EXPECT_EQ(parse_json("1.7976931348623157e308").number, 1.7976931348623157e308);
}

TEST(ParseJson, RefusesWhatStrictJsonRefuses) {
  const char* const refused[] = {"NaN",
                                 "Infinity",
                                 "-Infinity",
                                 "[1,]",
                                 "{\"a\": 1,}",
                                 "[1 2]",
                                 "// note\n1",
                                 "/* */ 1",
                                 "01",
                                 "-01",
                                 "1.",
                                 ".5",
                                 "-",
                                 "+1",
                                 "1e",
                                 "1e+",
                                 "0x10",
                                 "'a'",
                                 "",
                                 "  ",
                                 "tru",
                                 "nul",
                                 "{1: 2}",
                                 "{\"a\" 1}",
                                 "[",
                                 "{",
                                 "{\"a\": 1, \"a\": 2}",
                                 "{\"a\": 1, \"\\u0061\": 2}",
                                 "1 2",
                                 "[] x",
                                 "\"a\tb\"",
                                 "\"a\nb\"",
                                 "\"\\x\"",
                                 "\"\\u12\"",
                                 "\"\\ud800\"",
                                 "\"\\udc00\"",
                                 "\"\\ud800\\u0041\"",
                                 "\"abc",
                                 "\"abc\\",
                                 "1e309",
                                 "-2e308",
                                 "[1e400000]"};
  for (const char* text : refused) EXPECT_THROW(parse_json(text), JsonError) << text;
}

TEST(ParseJson, SaysWhereTheFaultIs) {
  // Positions as python3's json.loads gives them.
  const std::pair<const char*, const char*> cases[] = {
      {"{\n  \"a\": [1,\n   2,]\n}", "line 3, column 6: "},
      {"{\"a\": 1,\n \"b\" 2}", "line 2, column 6: "},
      {"[1,\n  tru]", "line 2, column 3: "},
      {"[\"ok\",\n \"a\tb\"]", "line 2, column 4: "},
  };
  for (const auto& [text, where] : cases) {
    try {
      parse_json(text);
      ADD_FAILURE() << text;
    } catch (const JsonError& error) {
      EXPECT_EQ(std::string(error.what()).rfind(where, 0), 0u) << error.what();
    }
  }
}

TEST(ParseJson, BoundsTheNesting) {
  const int depth = 200;
  EXPECT_EQ(parse_json(std::string(depth, '[') + std::string(depth, ']')).items.size(), 1u);
  // Deep enough to overflow the stack if each level recursed unchecked.
  const std::string hostile(1000000, '[');
  EXPECT_THROW(parse_json(hostile), JsonError);
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  EXPECT_THROW(parse_json(objects), JsonError);
}

}  // namespace
}  // namespace trainer
