#include "trainer/predictions_csv.h"

#include <cmath>

#include "trainer/input_error.h"
#include "trainer/json.h"

namespace trainer {

std::string csv_cell(const std::string& text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' ' ||
                                        text.front() == '\t' || text.back() == '\t'));
  if (!quote) return text;
  std::string cell = "\"";
  for (const char c : text) {
    cell += c;
    if (c == '"') cell += '"';
  }
  return cell + "\"";
}

std::size_t predicted_class(const double* outputs, std::size_t width) {
  std::size_t best = 0;
  for (std::size_t k = 1; k < width; ++k) {
    if (outputs[k] > outputs[best]) best = k;
  }
  return best;
}

std::string predictions_csv(const PredictionsTable& table) {
  const std::size_t width = table.target_names.size();
  const bool classes = !table.class_names.empty();
  const bool truth = !table.truth.empty();
  std::string text;
  const auto add = [&](const std::string& cell, bool first) {
    if (!first) text += ',';
    text += csv_cell(cell);
  };
  bool first = true;
  for (const std::string& name : table.given_names) {
    add(name, first);
    first = false;
  }
  if (classes) {
    if (truth) {
      add(table.label_name + " (true)", first);
      first = false;
    }
    add(table.label_name, first);
  } else {
    if (truth) {
      for (const std::string& name : table.target_names) {
        add(name + " (true)", first);
        first = false;
      }
    }
    for (const std::string& name : table.target_names) {
      add(name, first);
      first = false;
    }
  }
  text += '\n';
  for (std::size_t r = 0; r < table.rows; ++r) {
    const double* outputs = &table.predicted[r * width];
    for (std::size_t k = 0; k < width; ++k) {
      if (!std::isfinite(outputs[k])) {
        throw InputError("the network's output for row " + std::to_string(r + 1) +
                         " is not a finite number: its weights are too large for these rows");
      }
    }
    first = true;
    for (std::size_t c = 0; c < table.given_names.size(); ++c) {
      add(table.given_cell(r, c), first);
      first = false;
    }
    if (classes) {
      if (truth) {
        add(table.class_names[predicted_class(&table.truth[r * width], width)], first);
        first = false;
      }
      add(table.class_names[predicted_class(outputs, width)], first);
    } else {
      if (truth) {
        for (std::size_t k = 0; k < width; ++k) {
          add(format_double(table.truth[r * width + k]), first);
          first = false;
        }
      }
      for (std::size_t k = 0; k < width; ++k) {
        add(format_double(outputs[k]), first);
        first = false;
      }
    }
    text += '\n';
  }
  return text;
}

}  // namespace trainer
