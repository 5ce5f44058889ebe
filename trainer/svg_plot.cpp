#include "trainer/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

#include "trainer/shortened.h"

namespace trainer {
namespace {

constexpr double kWidth = 900;
constexpr double kPanelHeight = 280;
constexpr double kLeft = 80;
constexpr double kRight = 30;
constexpr double kTop = 40;
constexpr double kBottom = 40;
constexpr std::size_t kMostPoints = 2000;  // per curve; more only makes the file larger

// The length of the well-formed UTF-8 sequence at text[i], or 0.
std::size_t utf8_length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned lowest = 0;  // the smallest code point the length may carry
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    lowest = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  unsigned code = lead & (0x7Fu >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return code < lowest || code > 0x10FFFF || surrogate ? 0 : length;
}

// Text for an XML document declared UTF-8: markup characters escaped, control characters
// dropped, and bytes that are not UTF-8 (a Latin-1 header, say) shown as U+FFFD.
std::string escaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const std::size_t length = utf8_length(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(text, i, length);
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') {
      out += c;
    }
    i += length;
  }
  return out;
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string label(double value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  return text;
}

// Labels for the tick values with as few digits as keep neighbours apart (at least three):
// values close together far from zero need more.
std::vector<std::string> tick_labels(const std::vector<double>& values) {
  std::vector<std::string> labels;
  for (int digits = 3; digits <= 17; ++digits) {
    labels.clear();
    bool distinct = true;
    for (const double value : values) {
      labels.push_back(label(value, digits));
      distinct = distinct && (labels.size() < 2 || labels[labels.size() - 2] != labels.back());
    }
    if (distinct) break;
  }
  return labels;
}

// Roughly how wide text is drawn, in pixels, at `size` pixels of a sans-serif font.
double text_width(const std::string& text, double size) {
  return 0.6 * size * static_cast<double>(display_width(text));
}

// 1, 2 or 5 times a power of ten: the first such number at least `value`.
double round_step(double value) {
  const double power = std::pow(10.0, std::floor(std::log10(value)));
  const double mantissa = value / power;
  return power * (mantissa <= 1.0 ? 1.0 : mantissa <= 2.0 ? 2.0 : mantissa <= 5.0 ? 5.0 : 10.0);
}

// A value axis: the range drawn, in drawing units (the logarithm on a logarithmic axis), and
// the ticks, at round values that span that range.
struct Axis {
  double low = 0.0;
  double high = 1.0;
  std::vector<double> positions;  ///< in drawing units
  std::vector<double> values;
};

// Ticks at whole multiples of a round step, the range widened to the outer ones.
Axis linear_axis(double low, double high) {
  Axis axis;
  const double step = round_step(high / 4 - low / 4);
  const double first = std::floor(low / step);
  const double last = std::ceil(high / step);
  // Far from zero, the values may differ by less than a step can count in doubles.
  if (!std::isfinite(step) || !std::isfinite(first * step) || !std::isfinite(last * step) ||
      step <= 0.0 || !(last - first <= 12)) {
    // Beyond round numbers: the ends as they are.
    axis.low = low;
    axis.high = high;
    axis.positions = axis.values = {low, high};
    return axis;
  }
  axis.low = first * step;
  axis.high = last * step;
  for (double i = first; i <= last; ++i) {
    axis.positions.push_back(i * step);
    axis.values.push_back(i * step);
  }
  return axis;
}

// `low` and `high` are the logarithms of the smallest and largest values. Ticks at 1, 2 and 5
// times powers of ten when few enough of them span the values, or else at powers of ten, a
// round number of decades apart.
Axis logarithmic_axis(double low, double high) {
  Axis axis;
  const double first_decade = std::floor(low);
  const double last_decade = std::ceil(high);
  std::vector<double> candidates;  // ascending logarithms of 1, 2, 5 times powers of ten
  if (last_decade - first_decade <= 3) {
    for (double decade = first_decade; decade <= last_decade; ++decade) {
      for (const double multiple : {1.0, 2.0, 5.0}) {
        candidates.push_back(decade + std::log10(multiple));
      }
    }
    // The ticks around the values: the last candidate not above the lowest and the first not
    // below the highest, allowing for rounding.
    const double slack = 1e-9;
    std::size_t from = 0;
    while (from + 1 < candidates.size() && candidates[from + 1] <= low + slack) ++from;
    std::size_t to = candidates.size() - 1;
    while (to > from + 1 && candidates[to - 1] >= high - slack) --to;
    if (to - from <= 6) {
      axis.low = candidates[from];
      axis.high = candidates[to];
      for (std::size_t i = from; i <= to; ++i) {
        axis.positions.push_back(candidates[i]);
        axis.values.push_back(std::pow(10.0, candidates[i]));
      }
      return axis;
    }
  }
  // At most seven ticks.
  const double step = std::ceil((last_decade - first_decade) / 6);
  axis.low = std::floor(first_decade / step) * step;
  axis.high = std::ceil(last_decade / step) * step;
  for (double decade = axis.low; decade <= axis.high; decade += step) {
    axis.positions.push_back(decade);
    axis.values.push_back(std::pow(10.0, decade));
  }
  return axis;
}

struct Curve {
  std::vector<double> values;
  std::string colour;
  std::string name;
};

// A legend's entries on a white box, so that curves under it do not hide them.
std::string legend(double right, double top, const std::vector<Curve>& curves) {
  double widest = 0.0;
  for (const Curve& curve : curves) widest = std::max(widest, text_width(curve.name, 12));
  const double width = widest + 40;
  const double left = right - width;
  std::string svg = "<rect class=\"legend\" x=\"" + number(left) + "\" y=\"" + number(top) +
                    "\" width=\"" + number(width) + "\" height=\"" +
                    number(8 + 16 * static_cast<double>(curves.size())) +
                    "\" fill=\"white\" fill-opacity=\"0.9\" stroke=\"#bbb\"/>\n";
  for (std::size_t c = 0; c < curves.size(); ++c) {
    const double y = top + 16 + 16 * static_cast<double>(c);
    svg += "<line x1=\"" + number(left + 8) + "\" y1=\"" + number(y - 4) + "\" x2=\"" +
           number(left + 28) + "\" y2=\"" + number(y - 4) + "\" stroke=\"" + curves[c].colour +
           "\" stroke-width=\"2\"/>\n";
    svg += "<text x=\"" + number(left + 34) + "\" y=\"" + number(y) + "\" font-size=\"12\">" +
           escaped(curves[c].name) + "</text>\n";
  }
  return svg;
}

std::string panel_title(double top, const std::string& title) {
  return "<text x=\"" + number(kWidth / 2) + "\" y=\"" + number(top + 24) +
         "\" text-anchor=\"middle\" font-size=\"15\">" + escaped(title) + "</text>\n";
}

// One framed panel: curves over their index, round ticks, a legend, and perhaps a marked index.
class Panel {
 public:
  Panel(std::string title, std::string x_label, bool logarithmic)
      : title_(std::move(title)), x_label_(std::move(x_label)), log_(logarithmic) {}

  void add(Curve curve) { curves_.push_back(std::move(curve)); }
  /// Labels the x axis with a few of these, one per index, in place of index numbers.
  void label_indices(const std::vector<std::string>* labels) { index_labels_ = labels; }
  /// A vertical line at `index`, labelled.
  void mark(std::size_t index, std::string text) {
    mark_ = index;
    mark_text_ = std::move(text);
  }

  double height() const { return kPanelHeight; }

  std::string render(double top) const {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    std::size_t longest = 1;
    for (const Curve& curve : curves_) {
      longest = std::max(longest, curve.values.size());
      for (const double v : curve.values) {
        if (!usable(v)) continue;
        low = std::min(low, y_of(v));
        high = std::max(high, y_of(v));
      }
    }
    if (!(low <= high)) low = high = 0.0;
    if (high - low < 1e-12 * std::max(1.0, std::fabs(high))) {
      low -= 0.5;
      high += 0.5;
    }
    const Axis axis = log_ ? logarithmic_axis(low, high) : linear_axis(low, high);
    const double plot_top = top + kTop;
    const double plot_height = kPanelHeight - kTop - kBottom;
    const double plot_width = kWidth - kLeft - kRight;
    const auto x_pixel = [&](std::size_t i) {
      return kLeft + (longest > 1 ? plot_width * static_cast<double>(i) / (longest - 1) : 0.0);
    };
    const auto y_pixel = [&](double y) {
      return plot_top + plot_height * (1.0 - (y - axis.low) / (axis.high - axis.low));
    };

    std::string svg = panel_title(top, title_);
    svg += "<rect x=\"" + number(kLeft) + "\" y=\"" + number(plot_top) + "\" width=\"" +
           number(plot_width) + "\" height=\"" + number(plot_height) +
           "\" fill=\"none\" stroke=\"#888\"/>\n";
    const std::vector<std::string> labels = tick_labels(axis.values);
    for (std::size_t t = 0; t < axis.positions.size(); ++t) {
      const double pixel = y_pixel(axis.positions[t]);
      svg += "<line class=\"y-grid\" x1=\"" + number(kLeft) + "\" y1=\"" + number(pixel) +
             "\" x2=\"" + number(kLeft + plot_width) + "\" y2=\"" + number(pixel) +
             "\" stroke=\"#e4e4e4\"/>\n";
      svg += "<text class=\"y-tick\" x=\"" + number(kLeft - 6) + "\" y=\"" + number(pixel + 4) +
             "\" text-anchor=\"end\" font-size=\"11\">" + labels[t] + "</text>\n";
    }
    for (const auto& [index, text] : x_ticks(longest, plot_width)) {
      svg += "<text class=\"x-tick\" x=\"" + number(x_pixel(index)) + "\" y=\"" +
             number(plot_top + plot_height + 16) + "\" text-anchor=\"middle\" font-size=\"11\">" +
             escaped(text) + "</text>\n";
    }
    svg += "<text x=\"" + number(kLeft + plot_width / 2) + "\" y=\"" +
           number(top + kPanelHeight - 6) + "\" text-anchor=\"middle\" font-size=\"12\">" +
           escaped(x_label_) + "</text>\n";

    for (const Curve& curve : curves_) {
      const std::size_t stride = std::max<std::size_t>(1, curve.values.size() / kMostPoints);
      std::string points;
      const auto flush = [&] {
        if (points.empty()) return;
        svg += "<polyline fill=\"none\" stroke=\"" + curve.colour +
               "\" stroke-width=\"1.5\" points=\"" + points + "\"/>\n";
        points.clear();
      };
      const std::size_t count = curve.values.size();
      for (std::size_t i = 0; i < count;
           i = (i + stride < count || i == count - 1) ? i + stride : count - 1) {
        if (!usable(curve.values[i])) {
          flush();  // a gap where the value cannot be drawn
          continue;
        }
        if (!points.empty()) points += ' ';
        points += number(x_pixel(i)) + ',' + number(y_pixel(y_of(curve.values[i])));
      }
      // A line needs two points; a single value is drawn as a dot.
      if (count == 1 && usable(curve.values[0])) {
        svg += "<circle cx=\"" + number(x_pixel(0)) + "\" cy=\"" +
               number(y_pixel(y_of(curve.values[0]))) + "\" r=\"3\" fill=\"" + curve.colour +
               "\"/>\n";
        points.clear();
      }
      flush();
    }
    if (mark_ && *mark_ < longest) {
      const double x = x_pixel(*mark_);
      svg += "<line class=\"mark\" x1=\"" + number(x) + "\" y1=\"" + number(plot_top) + "\" x2=\"" +
             number(x) + "\" y2=\"" + number(plot_top + plot_height) +
             "\" stroke=\"#555\" stroke-dasharray=\"4 3\"/>\n";
      // Beside the line, on the side with room for the text.
      const bool left_side = x + 6 + text_width(mark_text_, 11) > kLeft + plot_width;
      svg += "<text class=\"mark\" x=\"" + number(left_side ? x - 4 : x + 4) + "\" y=\"" +
             number(plot_top + plot_height - 6) + "\" text-anchor=\"" +
             (left_side ? "end" : "start") + "\" font-size=\"11\" fill=\"#333\">" +
             escaped(mark_text_) + "</text>\n";
    }
    if (!curves_.empty()) svg += legend(kLeft + plot_width - 6, plot_top + 6, curves_);
    return svg;
  }

 private:
  bool usable(double v) const { return std::isfinite(v) && (!log_ || v > 0.0); }
  double y_of(double v) const { return log_ ? std::log10(v) : v; }

  // Where the x axis is labelled, and with what: a few of the index labels, spaced so that
  // they do not overlap, or index numbers (from 1) at round values.
  std::vector<std::pair<std::size_t, std::string>> x_ticks(std::size_t longest,
                                                           double plot_width) const {
    std::vector<std::pair<std::size_t, std::string>> ticks;
    if (index_labels_ != nullptr && !index_labels_->empty()) {
      const std::size_t count = std::min(longest, index_labels_->size());
      // Spaced by the widest label among those that could be shown.
      std::vector<std::string> shown;
      double widest = 0.0;
      const std::size_t most = 6;
      for (std::size_t t = 0; t < most; ++t) {
        const std::size_t index = (count - 1) * t / (most - 1);
        widest =
            std::max(widest, text_width(shortened((*index_labels_)[index], kLongestLabel), 11));
      }
      const auto fitting = static_cast<std::size_t>(plot_width / (widest + 20));
      const std::size_t wanted = std::max<std::size_t>(1, std::min({most, fitting, count}));
      for (std::size_t t = 0; t < wanted; ++t) {
        const std::size_t index = wanted > 1 ? (count - 1) * t / (wanted - 1) : 0;
        ticks.emplace_back(index, shortened((*index_labels_)[index], kLongestLabel));
      }
      return ticks;
    }
    const auto last = static_cast<double>(longest);
    const double step = std::max(1.0, round_step(last / 8));
    // 1 at the start, unless a round value is too close to it.
    if (step >= 2) ticks.emplace_back(0, "1");
    for (double value = step; value <= last; value += step) {
      ticks.emplace_back(static_cast<std::size_t>(value) - 1, label(value, 15));
    }
    return ticks;
  }

  static constexpr std::size_t kLongestLabel = 20;

  std::string title_;
  std::string x_label_;
  bool log_;
  std::vector<Curve> curves_;
  const std::vector<std::string>* index_labels_ = nullptr;
  std::optional<std::size_t> mark_;
  std::string mark_text_;
};

// A white-to-blue shade for a share from 0 to 1.
std::string shade(double share) {
  const auto channel = [&](int full) {
    return static_cast<int>(std::lround(255 + (full - 255) * share));
  };
  char text[16];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", channel(31), channel(119), channel(180));
  return text;
}

// The confusion matrix: a row per true class, a column per predicted class, each cell shaded
// by its count and the count written in.
class ConfusionPanel {
 public:
  ConfusionPanel(std::string title, const std::vector<std::string>& class_names,
                 const std::vector<std::vector<std::size_t>>& matrix)
      : title_(std::move(title)), matrix_(matrix) {
    for (const std::string& name : class_names) names_.push_back(shortened(name, 16));
    const double classes = static_cast<double>(std::max<std::size_t>(1, names_.size()));
    cell_ = std::clamp(std::floor(420 / classes), 18.0, 48.0);
    for (const std::string& name : names_) widest_ = std::max(widest_, text_width(name, 11));
  }

  double height() const {
    return kTop + 24 + widest_ + static_cast<double>(names_.size()) * cell_ + kBottom;
  }

  std::string render(double top) const {
    std::string svg = panel_title(top, title_);
    const double size = cell_ * static_cast<double>(names_.size());
    const double left = std::max(kLeft + 20 + widest_, (kWidth - size) / 2);
    const double grid_top = top + kTop + 24 + widest_;
    std::size_t most = 0;
    for (const auto& row : matrix_) {
      for (const std::size_t count : row) most = std::max(most, count);
    }
    svg += "<text x=\"" + number(left + size / 2) + "\" y=\"" + number(top + kTop + 12) +
           "\" text-anchor=\"middle\" font-size=\"12\">predicted class</text>\n";
    svg += "<text x=\"" + number(left - widest_ - 14) + "\" y=\"" + number(grid_top + size / 2) +
           "\" text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 " +
           number(left - widest_ - 14) + " " + number(grid_top + size / 2) +
           ")\">true class</text>\n";
    const double font = std::min(12.0, cell_ * 0.45);
    for (std::size_t k = 0; k < names_.size(); ++k) {
      const double middle = static_cast<double>(k) * cell_ + cell_ / 2;
      svg += "<text class=\"true-class\" x=\"" + number(left - 6) + "\" y=\"" +
             number(grid_top + middle + 4) + "\" text-anchor=\"end\" font-size=\"11\">" +
             escaped(names_[k]) + "</text>\n";
      // Column names upright, reading upwards, so that long ones fit over narrow cells.
      const double x = left + middle + 4;
      const double y = grid_top - 6;
      svg += "<text class=\"predicted-class\" x=\"" + number(x) + "\" y=\"" + number(y) +
             "\" font-size=\"11\" transform=\"rotate(-90 " + number(x) + " " + number(y) + ")\">" +
             escaped(names_[k]) + "</text>\n";
    }
    for (std::size_t t = 0; t < matrix_.size() && t < names_.size(); ++t) {
      for (std::size_t p = 0; p < matrix_[t].size() && p < names_.size(); ++p) {
        const std::size_t count = matrix_[t][p];
        const double share =
            most == 0 ? 0.0 : static_cast<double>(count) / static_cast<double>(most);
        const double x = left + static_cast<double>(p) * cell_;
        const double y = grid_top + static_cast<double>(t) * cell_;
        svg += "<rect class=\"cell\" x=\"" + number(x) + "\" y=\"" + number(y) + "\" width=\"" +
               number(cell_) + "\" height=\"" + number(cell_) + "\" fill=\"" + shade(share) +
               "\" stroke=\"#ccc\"/>\n";
        svg += "<text class=\"count\" x=\"" + number(x + cell_ / 2) + "\" y=\"" +
               number(y + cell_ / 2 + font * 0.35) + "\" text-anchor=\"middle\" font-size=\"" +
               number(font) + "\" fill=\"" + (share > 0.5 ? "white" : "black") + "\">" +
               std::to_string(count) + "</text>\n";
      }
    }
    return svg;
  }

 private:
  std::string title_;
  std::vector<std::string> names_;
  const std::vector<std::vector<std::size_t>>& matrix_;
  double cell_ = 0.0;
  double widest_ = 0.0;
};

bool all_positive(const std::vector<double>& values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return v > 0.0; });
}

}  // namespace

std::string render_svg(const PlotData& data) {
  const std::size_t targets = data.target_names.size();
  const std::size_t rows = targets == 0 ? 0 : data.truth.size() / targets;
  // Each panel's SVG, drawn from the top down.
  std::string panels;
  double top = kTop;

  // Without epochs there is no loss to draw.
  if (!data.training_loss.empty()) {
    const bool logarithmic = all_positive(data.training_loss) && all_positive(data.test_loss) &&
                             all_positive(data.validation_loss);
    Panel loss("Loss per epoch" + std::string(logarithmic ? " (logarithmic)" : ""), "epoch",
               logarithmic);
    loss.add({data.training_loss, "#1f77b4", "training rows, during the epoch"});
    if (!data.validation_loss.empty()) {
      loss.add({data.validation_loss, "#2ca02c", "validation rows, after it"});
    }
    if (!data.test_loss.empty()) loss.add({data.test_loss, "#d62728", "test rows, after it"});
    if (data.best_epoch > 0) {
      loss.mark(static_cast<std::size_t>(data.best_epoch) - 1,
                "best epoch " + std::to_string(data.best_epoch));
    }
    panels += loss.render(top);
    top += loss.height();
  }

  if (!data.class_names.empty()) {
    // Outputs per class against 0 and 1 say little; where the rows went says it all.
    if (!data.confusion.empty()) {
      const ConfusionPanel confusion("Confusion matrix, " + data.rows_label, data.class_names,
                                     data.confusion);
      panels += confusion.render(top);
      top += confusion.height();
    }
  } else {
    const std::vector<std::string>* labels =
        data.row_labels.size() == rows ? &data.row_labels : nullptr;
    for (std::size_t k = 0; k < targets; ++k) {
      Curve truth{{}, "#222222", "truth"};
      Curve predicted{{}, "#ff7f0e", "network"};
      for (std::size_t r = 0; r < rows; ++r) {
        truth.values.push_back(data.truth[r * targets + k]);
        predicted.values.push_back(data.predicted[r * targets + k]);
      }
      Panel panel(
          shortened(data.target_names[k], 40) + ": network against truth, " + data.rows_label,
          labels != nullptr ? data.rows_label : "row among the " + data.rows_label, false);
      panel.add(std::move(truth));
      panel.add(std::move(predicted));
      panel.label_indices(labels);
      panels += panel.render(top);
      top += panel.height();
    }
  }

  const double height = top + 10;
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(kWidth) + "\" height=\"" +
         number(height) + "\" viewBox=\"0 0 " + number(kWidth) + " " + number(height) +
         "\" font-family=\"sans-serif\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<text x=\"" + number(kWidth / 2) +
         "\" y=\"24\" text-anchor=\"middle\" font-size=\"16\" "
         "font-weight=\"bold\">" +
         escaped(data.title) + "</text>\n";
  return svg + panels + "</svg>\n";
}

}  // namespace trainer
