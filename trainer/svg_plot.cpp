#include "trainer/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

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

struct Curve {
  std::vector<double> values;
  std::string colour;
  std::string name;
};

// One framed panel: curves over their index, ticks and a legend.
class Panel {
 public:
  Panel(double top, std::string title, std::string x_label, bool logarithmic)
      : top_(top), title_(std::move(title)), x_label_(std::move(x_label)), log_(logarithmic) {}

  void add(Curve curve) { curves_.push_back(std::move(curve)); }

  std::string render() const {
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
    const double plot_height = kPanelHeight - kTop - kBottom;
    const double plot_width = kWidth - kLeft - kRight;
    const auto x_pixel = [&](std::size_t i) {
      return kLeft + (longest > 1 ? plot_width * static_cast<double>(i) / (longest - 1) : 0.0);
    };
    const auto y_pixel = [&](double v) {
      return top_ + kTop + plot_height * (1.0 - (y_of(v) - low) / (high - low));
    };

    std::string svg;
    svg += "<text x=\"" + number(kWidth / 2) + "\" y=\"" + number(top_ + 24) +
           "\" text-anchor=\"middle\" font-size=\"15\">" + escaped(title_) + "</text>\n";
    svg += "<rect x=\"" + number(kLeft) + "\" y=\"" + number(top_ + kTop) + "\" width=\"" +
           number(plot_width) + "\" height=\"" + number(plot_height) +
           "\" fill=\"none\" stroke=\"#888\"/>\n";
    std::vector<double> ticks;
    for (int t = 0; t <= 4; ++t) {
      const double y = low + (high - low) * t / 4;
      ticks.push_back(log_ ? std::pow(10.0, y) : y);
    }
    const std::vector<std::string> labels = tick_labels(ticks);
    for (int t = 0; t <= 4; ++t) {
      const double pixel = top_ + kTop + plot_height * (1.0 - t / 4.0);
      svg += "<text x=\"" + number(kLeft - 6) + "\" y=\"" + number(pixel + 4) +
             "\" text-anchor=\"end\" font-size=\"11\">" + labels[static_cast<std::size_t>(t)] +
             "</text>\n";
    }
    for (int t = 0; t <= 4; ++t) {
      const std::size_t index = (longest - 1) * static_cast<std::size_t>(t) / 4;
      // Short curves give the same index more than once.
      if (t > 0 && index == (longest - 1) * static_cast<std::size_t>(t - 1) / 4) continue;
      svg += "<text x=\"" + number(x_pixel(index)) + "\" y=\"" +
             number(top_ + kTop + plot_height + 16) +
             "\" text-anchor=\"middle\" font-size=\"11\">" + std::to_string(index + 1) +
             "</text>\n";
    }
    svg += "<text x=\"" + number(kLeft + plot_width / 2) + "\" y=\"" +
           number(top_ + kPanelHeight - 6) + "\" text-anchor=\"middle\" font-size=\"12\">" +
           escaped(x_label_) + "</text>\n";

    for (std::size_t c = 0; c < curves_.size(); ++c) {
      const Curve& curve = curves_[c];
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
        points += number(x_pixel(i)) + ',' + number(y_pixel(curve.values[i]));
      }
      // A line needs two points; a single value is drawn as a dot.
      if (count == 1 && usable(curve.values[0])) {
        svg += "<circle cx=\"" + number(x_pixel(0)) + "\" cy=\"" +
               number(y_pixel(curve.values[0])) + "\" r=\"3\" fill=\"" + curve.colour + "\"/>\n";
        points.clear();
      }
      flush();
      const double legend_y = top_ + kTop + 14 + 16 * static_cast<double>(c);
      svg += "<line x1=\"" + number(kWidth - kRight - 230) + "\" y1=\"" + number(legend_y - 4) +
             "\" x2=\"" + number(kWidth - kRight - 210) + "\" y2=\"" + number(legend_y - 4) +
             "\" stroke=\"" + curve.colour + "\" stroke-width=\"2\"/>\n";
      svg += "<text x=\"" + number(kWidth - kRight - 204) + "\" y=\"" + number(legend_y) +
             "\" font-size=\"12\">" + escaped(curve.name) + "</text>\n";
    }
    return svg;
  }

 private:
  bool usable(double v) const { return std::isfinite(v) && (!log_ || v > 0.0); }
  double y_of(double v) const { return log_ ? std::log10(v) : v; }

  double top_;
  std::string title_;
  std::string x_label_;
  bool log_;
  std::vector<Curve> curves_;
};

bool all_positive(const std::vector<double>& values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return v > 0.0; });
}

}  // namespace

std::string render_svg(const PlotData& data) {
  const std::size_t targets = data.target_names.size();
  const std::size_t rows = targets == 0 ? 0 : data.truth.size() / targets;
  std::vector<Panel> panels;

  // Without epochs there is no loss to draw.
  if (!data.training_loss.empty()) {
    const bool logarithmic = all_positive(data.training_loss) && all_positive(data.test_loss);
    Panel loss(kTop, "Loss per epoch" + std::string(logarithmic ? " (logarithmic)" : ""), "epoch",
               logarithmic);
    loss.add({data.training_loss, "#1f77b4", "training rows, during the epoch"});
    if (!data.test_loss.empty()) loss.add({data.test_loss, "#d62728", "test rows, after it"});
    panels.push_back(loss);
  }

  for (std::size_t k = 0; k < targets; ++k) {
    Curve truth{{}, "#222222", "truth"};
    Curve predicted{{}, "#ff7f0e", "network"};
    for (std::size_t r = 0; r < rows; ++r) {
      truth.values.push_back(data.truth[r * targets + k]);
      predicted.values.push_back(data.predicted[r * targets + k]);
    }
    Panel panel(kTop + kPanelHeight * static_cast<double>(panels.size()),
                shortened(data.target_names[k], 40) + ": network against truth, " + data.rows_label,
                "row among the " + data.rows_label, false);
    panel.add(std::move(truth));
    panel.add(std::move(predicted));
    panels.push_back(std::move(panel));
  }

  const double height = kTop + kPanelHeight * static_cast<double>(panels.size()) + 10;
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(kWidth) + "\" height=\"" +
         number(height) + "\" viewBox=\"0 0 " + number(kWidth) + " " + number(height) +
         "\" font-family=\"sans-serif\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<text x=\"" + number(kWidth / 2) +
         "\" y=\"24\" text-anchor=\"middle\" font-size=\"16\" "
         "font-weight=\"bold\">" +
         escaped(data.title) + "</text>\n";
  for (const Panel& panel : panels) svg += panel.render();
  return svg + "</svg>\n";
}

}  // namespace trainer
