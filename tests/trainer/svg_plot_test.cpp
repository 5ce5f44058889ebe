// The plot read back as elements: well-formed, round ticks, the marks and panels it promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "trainer/svg_plot.h"

namespace trainer {
namespace {

struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;  ///< what follows the start tag up to the next tag
};

// Checks the document is well-formed as far as this writer's output goes: every start tag
// closed in order, attribute values quoted, text free of markup characters other than
// entities. Returns the elements in document order.
std::vector<Element> parsed(const std::string& svg) {
  std::vector<Element> elements;
  std::vector<std::string> open;
  EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);
  const std::regex tag(
      R"(<(/?)([a-z]+)((?:\s+[a-zA-Z0-9-]+="[^"<>&]*(?:&[a-z]+;[^"<>&]*)*")*)\s*(/?)>)");
  const std::regex attribute(R"(([a-zA-Z0-9-]+)="([^"]*)\")");
  const std::regex text_ok(R"(([^<>&]|&(amp|lt|gt|quot);)*)");
  std::size_t at = svg.find('\n') + 1;
  while (at < svg.size()) {
    std::smatch match;
    const std::string rest = svg.substr(at);
    if (!std::regex_search(rest, match, tag, std::regex_constants::match_continuous)) {
      ADD_FAILURE() << "not a tag at " << at << ": " << rest.substr(0, 80);
      break;
    }
    at += static_cast<std::size_t>(match.length(0));
    const std::size_t next = svg.find('<', at);
    const std::string text =
        svg.substr(at, next == std::string::npos ? std::string::npos : next - at);
    EXPECT_TRUE(std::regex_match(text, text_ok)) << text;
    at = next == std::string::npos ? svg.size() : next;
    if (match[1] == "/") {
      EXPECT_FALSE(open.empty());
      if (open.empty()) break;
      EXPECT_EQ(open.back(), match[2].str());
      open.pop_back();
      continue;
    }
    Element element{match[2], {}, text};
    const std::string attributes = match[3];
    for (std::sregex_iterator it(attributes.begin(), attributes.end(), attribute), end; it != end;
         ++it) {
      EXPECT_EQ(element.attributes.count((*it)[1]), 0u) << "attribute twice";
      element.attributes[(*it)[1]] = (*it)[2];
    }
    if (match[4] != "/") open.push_back(element.name);
    elements.push_back(std::move(element));
  }
  EXPECT_TRUE(open.empty());
  return elements;
}

std::vector<Element> with_class(const std::vector<Element>& elements, const std::string& name) {
  std::vector<Element> found;
  for (const Element& element : elements) {
    const auto it = element.attributes.find("class");
    if (it != element.attributes.end() && it->second == name) found.push_back(element);
  }
  return found;
}

std::vector<std::string> texts(const std::vector<Element>& elements) {
  std::vector<std::string> found;
  for (const Element& element : elements) {
    if (element.name == "text") found.push_back(element.text);
  }
  return found;
}

double number_in(const Element& element, const std::string& attribute) {
  return std::stod(element.attributes.at(attribute));
}

// Whether `value` is 1, 2 or 5 times a power of ten, to rounding.
bool one_two_five(double value) {
  const double power = std::pow(10.0, std::floor(std::log10(value) + 1e-9));
  const double mantissa = value / power;
  for (const double round : {1.0, 2.0, 5.0, 10.0}) {
    if (std::fabs(mantissa - round) < 1e-6) return true;
  }
  return false;
}

std::vector<double> tick_values(const std::vector<Element>& elements) {
  std::vector<double> values;
  for (const std::string& text : texts(with_class(elements, "y-tick")))
    values.push_back(std::stod(text));
  return values;
}

PlotData one_target(const std::vector<double>& values) {
  PlotData data;
  data.title = "t";
  data.rows_label = "test rows";
  data.target_names = {"y"};
  data.truth = values;
  data.predicted = values;
  return data;
}

TEST(SvgPlot, LinearTicksAreWholeMultiplesOfARoundStepAroundTheValues) {
  const std::vector<std::vector<double>> cases = {{0.0123, 0.987, 0.5},
                                                  {-3.7, 1234.5},
                                                  {1000.001, 1000.007, 1000.004},
                                                  {-2e-7, -1e-7},
                                                  {42.0, 42.0}};
  for (const std::vector<double>& values : cases) {
    const std::vector<double> ticks = tick_values(parsed(render_svg(one_target(values))));
    ASSERT_GE(ticks.size(), 3u);
    EXPECT_LE(ticks.size(), 7u);
    const double step = ticks[1] - ticks[0];
    EXPECT_TRUE(one_two_five(step)) << step;
    for (std::size_t i = 0; i < ticks.size(); ++i) {
      EXPECT_NEAR(ticks[i], ticks[0] + step * static_cast<double>(i), 1e-6 * step);
      // To the digits the label shows.
      EXPECT_NEAR(ticks[i], std::round(ticks[i] / step) * step,
                  1e-9 * std::max(std::fabs(ticks[i]), step))
          << ticks[i];
    }
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    EXPECT_LE(ticks.front(), *low);
    EXPECT_GE(ticks.back(), *high);
  }
}

TEST(SvgPlot, LogarithmicTicksArePowersOfTenOrTheirTwoAndFiveMultiples) {
  const std::vector<std::vector<double>> cases = {
      {0.12, 0.05, 0.0018}, {0.036, 0.031}, {1e5, 1e-30}, {3.0, 3.0}, {7e-4, 2e-3}};
  for (const std::vector<double>& losses : cases) {
    PlotData data;
    data.training_loss = losses;
    const std::vector<Element> elements = parsed(render_svg(data));
    ASSERT_EQ(texts(elements)[1], "Loss per epoch (logarithmic)");
    const std::vector<double> ticks = tick_values(elements);
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_LE(ticks.size(), 7u);
    for (const double tick : ticks) EXPECT_TRUE(one_two_five(tick)) << tick;
    for (std::size_t i = 1; i < ticks.size(); ++i) EXPECT_GT(ticks[i], ticks[i - 1]);
    const auto [low, high] = std::minmax_element(losses.begin(), losses.end());
    EXPECT_LE(ticks.front(), *low * (1 + 1e-9));
    EXPECT_GE(ticks.back(), *high * (1 - 1e-9));
  }
}

TEST(SvgPlot, TheBestEpochIsMarkedOnTheLossCurvesWithTheValidationLoss) {
  PlotData data;
  data.training_loss = {1.0, 0.5, 0.3, 0.2, 0.15, 0.12, 0.1, 0.09, 0.08};
  data.validation_loss = {1.1, 0.6, 0.4, 0.3, 0.28, 0.27, 0.26, 0.29, 0.3};
  data.test_loss = {1.2, 0.7, 0.5, 0.4, 0.35, 0.33, 0.32, 0.34, 0.36};
  data.best_epoch = 7;
  const std::vector<Element> elements = parsed(render_svg(data));
  std::vector<Element> curves;
  for (const Element& element : elements) {
    if (element.name == "polyline") curves.push_back(element);
  }
  ASSERT_EQ(curves.size(), 3u);
  const std::vector<Element> marks = with_class(elements, "mark");
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks[1].text, "best epoch 7");
  // At the seventh point of each curve.
  const std::string points = curves[0].attributes.at("points");
  std::vector<double> xs;
  for (std::size_t at = 0; at < points.size();) {
    xs.push_back(std::stod(points.substr(at)));
    const std::size_t space = points.find(' ', at);
    at = space == std::string::npos ? points.size() : space + 1;
  }
  ASSERT_EQ(xs.size(), 9u);
  EXPECT_DOUBLE_EQ(number_in(marks[0], "x1"), xs[6]);
  EXPECT_DOUBLE_EQ(number_in(marks[0], "x2"), xs[6]);

  // A legend on a box drawn over the curves, naming all three.
  const std::vector<std::string> all = texts(elements);
  for (const char* name :
       {"training rows, during the epoch", "validation rows, after it", "test rows, after it"}) {
    EXPECT_NE(std::find(all.begin(), all.end(), name), all.end()) << name;
  }
  const std::vector<Element> boxes = with_class(elements, "legend");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].attributes.at("fill"), "white");
  const auto box = std::find_if(elements.begin(), elements.end(), [](const Element& e) {
    return e.attributes.count("class") != 0 && e.attributes.at("class") == "legend";
  });
  const auto legend_text = std::find_if(elements.begin(), elements.end(), [](const Element& e) {
    return e.text == "validation rows, after it";
  });
  const auto last_curve = std::find_if(elements.rbegin(), elements.rend(),
                                       [](const Element& e) { return e.name == "polyline"; });
  EXPECT_GT(box - elements.begin(), elements.rend() - last_curve - 1);
  EXPECT_GT(legend_text, box);
  const double left = number_in(boxes[0], "x");
  const double top = number_in(boxes[0], "y");
  EXPECT_GT(number_in(*legend_text, "x"), left);
  EXPECT_GT(number_in(*legend_text, "y"), top);
  EXPECT_LT(number_in(*legend_text, "y"), top + number_in(boxes[0], "height"));
}

TEST(SvgPlot, EpochTicksAreRoundNumbers) {
  PlotData data;
  data.training_loss.assign(1234, 0.5);
  const std::vector<std::string> ticks = texts(with_class(parsed(render_svg(data)), "x-tick"));
  EXPECT_EQ(ticks, (std::vector<std::string>{"1", "200", "400", "600", "800", "1000", "1200"}));
}

TEST(SvgPlot, RowLabelsNameAFewRowsWithoutOverlapping) {
  std::vector<double> values;
  PlotData data;
  for (int r = 0; r < 500; ++r) {
    values.push_back(std::sin(r / 10.0));
    data.row_labels.push_back("day " + std::to_string(r) + " <UTC>");
  }
  const PlotData base = one_target(values);
  data.title = base.title;
  data.rows_label = base.rows_label;
  data.target_names = base.target_names;
  data.truth = data.predicted = values;
  const std::vector<Element> ticks = with_class(parsed(render_svg(data)), "x-tick");
  ASSERT_GE(ticks.size(), 2u);
  EXPECT_LE(ticks.size(), 6u);
  EXPECT_EQ(ticks.front().text, "day 0 &lt;UTC&gt;");
  EXPECT_EQ(ticks.back().text, "day 499 &lt;UTC&gt;");
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    // Centred labels of 13 characters of 11 pixels: apart by more than their width.
    EXPECT_GT(number_in(ticks[i], "x") - number_in(ticks[i - 1], "x"), 13 * 11 * 0.6);
  }
}

TEST(SvgPlot, AClassificationShowsItsConfusionMatrixInPlaceOfOutputsPerClass) {
  PlotData data;
  data.title = "classes";
  data.rows_label = "test rows";
  data.target_names = {"a", "b<c", "d"};
  data.class_names = {"a", "b<c", "d"};
  data.truth = {1, 0, 0, 0, 1, 0};
  data.predicted = {0.9, 0.1, 0, 0.2, 0.7, 0.1};
  data.confusion = {{5, 1, 0}, {2, 40, 3}, {0, 0, 7}};
  const std::vector<Element> elements = parsed(render_svg(data));
  for (const Element& element : elements) EXPECT_NE(element.name, "polyline");
  EXPECT_EQ(texts(with_class(elements, "count")),
            (std::vector<std::string>{"5", "1", "0", "2", "40", "3", "0", "0", "7"}));
  EXPECT_EQ(texts(with_class(elements, "true-class")),
            (std::vector<std::string>{"a", "b&lt;c", "d"}));
  EXPECT_EQ(texts(with_class(elements, "predicted-class")),
            (std::vector<std::string>{"a", "b&lt;c", "d"}));
  const std::vector<Element> cells = with_class(elements, "cell");
  ASSERT_EQ(cells.size(), 9u);
  // The largest count darkest, no rows white.
  EXPECT_EQ(cells[6].attributes.at("fill"), "#ffffff");
  EXPECT_EQ(cells[4].attributes.at("fill"), "#1f77b4");
  EXPECT_LT(cells[8].attributes.at("fill"), cells[0].attributes.at("fill"));
}

TEST(SvgPlot, MarkupAndBytesThatAreNotUtf8AreEscaped) {
  PlotData data = one_target({1, 2, 3});
  data.title = "a & b \"quoted\" <tag>\x01\xe9";
  data.target_names = {"x>y"};
  const std::vector<Element> elements = parsed(render_svg(data));
  const std::vector<std::string> all = texts(elements);
  EXPECT_EQ(all[0], "a &amp; b &quot;quoted&quot; &lt;tag&gt;\xEF\xBF\xBD");
  EXPECT_EQ(all[1], "x&gt;y: network against truth, test rows");
}

}  // namespace
}  // namespace trainer
