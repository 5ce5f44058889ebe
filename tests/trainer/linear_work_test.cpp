// Every reader and formatter works in proportion to its input: doubling the input at most
// about doubles the work counted (bytes looked at, keys compared), whatever its shape.
#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>

#include "trainer/csv_reader.h"
#include "trainer/input_error.h"
#include "trainer/json.h"
#include "trainer/shortened.h"
#include "trainer/weights_file.h"
#include "trainer/work_counter.h"

namespace trainer {
namespace {

// Room for the constant part of the work; quadratic work grows 4 times.
constexpr double kMostGrowth = 2.2;

// The work `measure` counts for an input of size n and of size 2n.
void expect_linear(const std::function<void(std::size_t n, WorkCounter&)>& measure, std::size_t n) {
  WorkCounter once;
  WorkCounter twice;
  measure(n, once);
  measure(2 * n, twice);
  ASSERT_GT(once.steps, n / 2) << "the counter sees too little of the work to tell";
  EXPECT_LE(static_cast<double>(twice.steps), kMostGrowth * static_cast<double>(once.steps))
      << once.steps << " steps for " << n << ", " << twice.steps << " for " << 2 * n;
}

std::string rows_of_numbers(std::size_t rows) {
  std::string text = "a,b,c\n";
  for (std::size_t r = 0; r < rows; ++r) text += std::to_string(r) + ",0.5,-1e3\r\n";
  return text;
}

TEST(LinearWork, CsvReaderOverRows) {
  expect_linear(
      [](std::size_t n, WorkCounter& counter) {
        EXPECT_EQ(parse_csv(rows_of_numbers(n), "data.csv", {}, &counter).rows(), n);
      },
      20000);
}

TEST(LinearWork, CsvReaderOverColumns) {
  expect_linear(
      [](std::size_t n, WorkCounter& counter) {
        std::string header;
        std::string row;
        for (std::size_t c = 0; c < n; ++c) {
          header += (c ? ",\"name " : "\"name ") + std::to_string(c) + "\"";
          row += c ? ",1.25" : "1.25";
        }
        EXPECT_EQ(parse_csv(header + "\n" + row + "\n", "data.csv", {}, &counter).columns(), n);
      },
      20000);
}

TEST(LinearWork, CsvReaderOverOneLongCell) {
  // Kept as text in one pass, and refused where a number is needed.
  expect_linear(
      [](std::size_t n, WorkCounter& counter) {
        const Table table =
            parse_csv("x,y\n1,2\n1," + std::string(n, '7') + "x\n", "data.csv", {}, &counter);
        EXPECT_THROW(table.number(1, 1), InputError);
      },
      20000);
}

TEST(LinearWork, JsonParserOverManyKeys) {
  expect_linear(
      [](std::size_t n, WorkCounter& counter) {
        std::string text = "{";
        for (std::size_t i = 0; i < n; ++i) {
          text += (i ? ",\"key " : "\"key ") + std::to_string(i) + "\": " + std::to_string(i);
        }
        EXPECT_EQ(parse_json(text + "}", &counter).members.size(), n);
      },
      20000);
}

TEST(LinearWork, JsonParserFindsADuplicateAmongManyKeys) {
  expect_linear(
      [](std::size_t n, WorkCounter& counter) {
        std::string text = "{";
        for (std::size_t i = 0; i < n; ++i) text += "\"k" + std::to_string(i) + "\": 1, ";
        EXPECT_THROW(parse_json(text + "\"k0\": 2}", &counter), JsonError);
      },
      20000);
}

TEST(LinearWork, JsonParserOverNestedArraysAndStrings) {
  expect_linear(
      [](std::size_t n, WorkCounter& counter) {
        std::string text = "[";
        for (std::size_t i = 0; i < n; ++i) text += i ? ", [\"s\\u00e9\", 1e-3, true]" : "[0]";
        EXPECT_EQ(parse_json(text + "]", &counter).items.size(), n);
      },
      10000);
}

std::string weights_text(std::size_t units) {
  std::string text =
      "{\"format\": \"oscnet-weights\", \"version\": 1, \"inputs\": 1, \"outputs\": 1, "
      "\"layers\": [{\"units\": " +
      std::to_string(units) + ", \"activation\": \"tanh\"}], \"params\": [";
  const std::size_t count = 3 * units + 1;
  for (std::size_t i = 0; i < count; ++i) text += i ? ", 0.125" : "0.125";
  return text + "]}\n";
}

TEST(LinearWork, WeightsFileOverParams) {
  expect_linear(
      [](std::size_t n, WorkCounter& counter) {
        EXPECT_EQ(parse_weights(weights_text(n), "model.json", &counter).params.size(), 3 * n + 1);
      },
      10000);
}

TEST(LinearWork, ShortenedNamesLookAtTheirStartOnly) {
  // A long name of two-byte characters, shortened for the report's 30 columns and the plot's
  // 40.
  for (const std::size_t width : {30u, 40u}) {
    WorkCounter once;
    WorkCounter twice;
    std::string name;
    for (int i = 0; i < 20000; ++i) name += "\xC3\xA9";
    const std::string short_name = shortened(name, width, &once);
    shortened(name + name, width, &twice);
    EXPECT_EQ(display_width(short_name), width);
    EXPECT_LE(static_cast<double>(twice.steps), kMostGrowth * static_cast<double>(once.steps));
    EXPECT_LE(once.steps, 2 * (width + 1));
  }
}

TEST(LinearWork, ShortenedNamesKeepTheirCharactersWhole) {
  const std::string name = "temp\xC3\xA9rature \xE2\x82\xAC \xF0\x9F\x98\x80 of the river";
  EXPECT_EQ(shortened(name, 30), name);
  EXPECT_EQ(shortened(name, 8), "temp\xC3\xA9...");
  EXPECT_EQ(shortened(name, 15), "temp\xC3\xA9rature ...");
  EXPECT_EQ(shortened(name, 17), "temp\xC3\xA9rature \xE2\x82\xAC ...");
  EXPECT_EQ(shortened(name, 19), "temp\xC3\xA9rature \xE2\x82\xAC \xF0\x9F\x98\x80 ...");
  EXPECT_EQ(shortened(std::string(31, 'a'), 30), std::string(27, 'a') + "...");
}

}  // namespace
}  // namespace trainer
