#include "trainer/column_selection.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>

#include "trainer/excerpt.h"
#include "trainer/input_error.h"

namespace trainer {
namespace {

// One output per class: a label column of many distinct values is a column of numbers, or of
// names, and no classification.
constexpr std::size_t kMaxClasses = 256;
// How many column names a message lists, and how much of each.
constexpr std::size_t kListedNames = 8;
constexpr std::size_t kShownName = 24;

std::string counted(std::size_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// "a, b, c and 4 more", each name quoted short.
std::string name_list(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < kListedNames; ++i) {
    text += (i > 0 ? ", " : "") + excerpt(names[i], kShownName);
  }
  if (names.size() > kListedNames)
    text += " and " + std::to_string(names.size() - kListedNames) + " more";
  return text;
}

enum class Role { unused, time, label, target, input };

const char* role_name(Role role) {
  switch (role) {
    case Role::time:
      return "the --time column";
    case Role::label:
      return "the --classify column";
    case Role::target:
      return "a target";
    case Role::input:
      return "an input";
    default:
      return "unused";
  }
}

class Columns {
 public:
  explicit Columns(const Table& table) : table_(table), roles_(table.columns(), Role::unused) {
    for (std::size_t c = table.columns(); c-- > 0;) by_name_[table.column_names[c]] = c;
  }

  // The column `reference` names, if the table has it.
  std::optional<std::size_t> find(const std::string& reference, bool by_name_only) const {
    if (const auto named = by_name_.find(reference); named != by_name_.end()) return named->second;
    if (by_name_only || reference.empty() || reference.size() > 9 ||
        !std::all_of(reference.begin(), reference.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    const std::size_t number = std::stoul(reference);
    if (number < 1 || number > table_.columns()) return std::nullopt;
    return number - 1;
  }

  std::size_t require(const std::string& reference, const std::string& option) const {
    if (const auto found = find(reference, false)) return *found;
    throw InputError(option + ": " + table_.name + " has no column '" + excerpt(reference) +
                     "'; its columns are " + name_list(table_.column_names));
  }

  void claim(std::size_t column, Role role, const std::string& option) {
    if (roles_[column] != Role::unused) {
      throw InputError(option + ": " + table_.column_label(column) + " is already " +
                       role_name(roles_[column]));
    }
    roles_[column] = role;
  }

  Role role(std::size_t column) const { return roles_[column]; }

 private:
  const Table& table_;
  std::vector<Role> roles_;
  std::unordered_map<std::string, std::size_t> by_name_;
};

// The class of each row and the classes in order: numbers numerically, text by its bytes.
struct Classes {
  std::vector<std::string> names;
  std::vector<std::size_t> of_row;
};

Classes classes_of(const Table& table, std::size_t column) {
  Classes classes;
  classes.of_row.reserve(table.rows());
  if (table.is_numeric_column(column)) {
    std::map<double, std::size_t> first_row;  // each value named as it is first written
    for (std::size_t r = 0; r < table.rows(); ++r) first_row.emplace(table.number(r, column), r);
    std::map<double, std::size_t> index;
    for (const auto& [value, row] : first_row) {
      index.emplace(value, classes.names.size());
      classes.names.emplace_back(table.text(row, column));
      if (classes.names.size() > kMaxClasses) break;
    }
    if (classes.names.size() <= kMaxClasses) {
      for (std::size_t r = 0; r < table.rows(); ++r) {
        classes.of_row.push_back(index.at(table.number(r, column)));
      }
    }
  } else {
    std::map<std::string, std::size_t, std::less<>> index;
    for (std::size_t r = 0; r < table.rows(); ++r) {
      const std::string_view label = table.text(r, column);
      if (label.empty()) {
        throw InputError(table.name + ", line " + std::to_string(table.lines[r]) + ", " +
                         table.column_label(column) + ": the label is empty");
      }
      if (index.find(label) == index.end()) {
        index.emplace(std::string(label), 0);
        if (index.size() > kMaxClasses) break;
      }
    }
    for (auto& [label, position] : index) {
      position = classes.names.size();
      classes.names.push_back(label);
    }
    if (classes.names.size() <= kMaxClasses) {
      for (std::size_t r = 0; r < table.rows(); ++r) {
        classes.of_row.push_back(index.find(table.text(r, column))->second);
      }
    }
  }
  if (classes.names.size() > kMaxClasses) {
    throw InputError("--classify: " + table.name + ", " + table.column_label(column) +
                     " holds more than " + std::to_string(kMaxClasses) +
                     " distinct labels; a label column holds a few classes");
  }
  return classes;
}

std::string lag_list(const std::vector<int>& lags) {
  std::string text;
  for (std::size_t i = 0; i < lags.size(); ++i)
    text += (i > 0 ? ", " : "") + std::to_string(lags[i]);
  return text;
}

}  // namespace

std::string lagged_name(const std::string& name, int offset) {
  if (offset == 0) return name + "(t)";
  return name + (offset < 0 ? "(t-" : "(t+") + std::to_string(offset < 0 ? -offset : offset) + ")";
}

Selection select_from_table(const Table& table, const ColumnRequest& request) {
  const bool lagged = !request.lags.empty();
  const bool classifying = !request.classify.empty();
  const bool predicting = request.predicting;
  if (classifying && !request.targets.empty()) {
    throw InputError("--classify names the target column; give it without --target");
  }
  if (classifying && lagged) {
    throw InputError(
        "--classify does not go with --lags: lagged rows forecast the series' numbers");
  }
  for (std::size_t i = 0; i < request.lags.size(); ++i) {
    if (std::find(request.lags.begin(), request.lags.begin() + static_cast<std::ptrdiff_t>(i),
                  request.lags[i]) != request.lags.begin() + static_cast<std::ptrdiff_t>(i)) {
      throw InputError("--lags: " + std::to_string(request.lags[i]) + " appears twice");
    }
  }

  Columns columns(table);
  std::optional<std::size_t> time;
  if (!request.time.empty()) {
    time = columns.require(request.time, "--time");
    columns.claim(*time, Role::time, "--time");
  }
  // Rows to predict need not hold their targets or labels; when they do, those are no inputs.
  std::optional<std::size_t> label;
  if (classifying) {
    label = predicting ? columns.find(request.classify, false)
                       : columns.require(request.classify, "--classify");
    if (label) columns.claim(*label, Role::label, "--classify");
  }
  std::vector<std::size_t> targets;
  if (!request.targets.empty()) {
    for (const std::string& reference : request.targets) {
      const auto column = predicting && !lagged ? columns.find(reference, false)
                                                : columns.require(reference, "--target");
      if (!column) continue;
      columns.claim(*column, Role::target, "--target");
      targets.push_back(*column);
    }
  } else if (!classifying && (!predicting || lagged)) {
    std::vector<std::size_t> candidates;
    for (std::size_t c = 0; c < table.columns(); ++c) {
      if (columns.role(c) == Role::unused) candidates.push_back(c);
    }
    if (!lagged && request.target_count >= candidates.size()) {
      throw InputError(table.name + " has " + counted(candidates.size(), "column") + ", so " +
                       counted(request.target_count, "target column") +
                       " leave no input; --targets must be below the column count");
    }
    if (request.target_count > candidates.size()) {
      throw InputError(table.name + " has " + counted(candidates.size(), "column") +
                       ", fewer than --targets " + std::to_string(request.target_count));
    }
    for (std::size_t c = candidates.size() - request.target_count; c < candidates.size(); ++c) {
      columns.claim(candidates[c], Role::target, "--targets");
      targets.push_back(candidates[c]);
    }
  }
  std::vector<std::size_t> inputs;
  for (const std::string& reference : request.inputs) {
    const bool recorded = !request.inputs_recorded_in.empty();
    if (recorded && !columns.find(reference, true)) {
      throw InputError(table.name + " has no column '" + excerpt(reference) +
                       "', an input of the network in " + request.inputs_recorded_in +
                       "; its columns are " + name_list(table.column_names));
    }
    const std::size_t column = columns.require(reference, "--inputs");
    // With lags a target's past is an input already.
    if (lagged && columns.role(column) == Role::target) continue;
    columns.claim(column, Role::input, "--inputs");
    inputs.push_back(column);
  }
  if (request.inputs.empty() && !lagged) {
    for (std::size_t c = 0; c < table.columns(); ++c) {
      if (columns.role(c) == Role::unused && table.is_numeric_column(c)) {
        columns.claim(c, Role::input, "--inputs");
        inputs.push_back(c);
      }
    }
  }
  if (!lagged && inputs.empty()) {
    throw InputError(table.name +
                     " has no numeric column left for the inputs; --inputs names them");
  }

  Selection selection;
  // The class column is named as the table names it, or, absent from rows to predict, as
  // the command line does.
  selection.label_name = label ? table.column_names[*label] : request.classify;
  for (std::size_t c = 0; c < table.columns(); ++c) {
    if (columns.role(c) == Role::unused) selection.skipped.push_back(table.column_names[c]);
  }
  if (time) selection.given_columns.push_back(*time);
  Dataset& data = selection.data;
  std::string description = table.name + " (" + counted(table.rows(), "row") + ", " +
                            counted(table.columns(), "column") +
                            (table.has_header ? ", with a header" : "");
  if (!selection.skipped.empty()) description += "; skipped: " + name_list(selection.skipped);
  description += ")";

  if (lagged) {
    std::vector<std::size_t> series = targets;
    series.insert(series.end(), inputs.begin(), inputs.end());
    selection.given_columns.insert(selection.given_columns.end(), series.begin(), series.end());
    const auto longest =
        static_cast<std::size_t>(*std::max_element(request.lags.begin(), request.lags.end()));
    const auto ahead = predicting ? std::size_t{0} : static_cast<std::size_t>(request.horizon);
    if (table.rows() <= longest + ahead) {
      throw InputError(table.name + " has " + counted(table.rows(), "row") + "; lags up to " +
                       std::to_string(longest) +
                       (predicting ? "" : " and a horizon of " + std::to_string(ahead)) +
                       " need at least " + std::to_string(longest + ahead + 1));
    }
    for (const std::size_t s : series) {
      for (const int lag : request.lags) {
        data.input_names.push_back(lagged_name(table.column_names[s], -lag));
      }
    }
    for (const std::size_t c : targets) {
      data.target_names.push_back(lagged_name(table.column_names[c], request.horizon));
    }
    for (std::size_t t = longest; t + ahead < table.rows(); ++t) {
      for (const std::size_t s : series) {
        for (const int lag : request.lags) {
          data.inputs.push_back(table.number(t - static_cast<std::size_t>(lag), s));
        }
      }
      if (!predicting) {
        for (const std::size_t c : targets) {
          data.targets.push_back(table.number(t + ahead, c));
          data.current_values.push_back(table.number(t, c));
        }
      }
      if (time) data.row_labels.emplace_back(table.text(t + ahead, *time));
      selection.source_rows.push_back(t);
    }
    std::vector<std::string> series_names;
    for (const std::size_t s : series) series_names.push_back(table.column_names[s]);
    description += "; lags " + lag_list(request.lags) + " of " + name_list(series_names) +
                   (predicting ? "" : ", " + std::to_string(request.horizon) + " ahead");
    data.time_ordered = true;
  } else {
    selection.given_columns.insert(selection.given_columns.end(), inputs.begin(), inputs.end());
    for (const std::size_t c : inputs) data.input_names.push_back(table.column_names[c]);
    Classes classes;
    if (classifying && !predicting) {
      classes = classes_of(table, *label);
      if (!predicting && classes.names.size() < 2) {
        throw InputError("--classify: " + table.name + ", " + table.column_label(*label) +
                         " holds the single class '" + excerpt(classes.names[0]) +
                         "'; a classification needs two or more");
      }
      data.class_names = classes.names;
      data.target_names = classes.names;
    } else if (!predicting) {
      for (const std::size_t c : targets) data.target_names.push_back(table.column_names[c]);
    }
    for (std::size_t r = 0; r < table.rows(); ++r) {
      for (const std::size_t c : inputs) data.inputs.push_back(table.number(r, c));
      if (!predicting && classifying) {
        for (std::size_t k = 0; k < classes.names.size(); ++k) {
          data.targets.push_back(k == classes.of_row[r] ? 1.0 : 0.0);
        }
      } else if (!predicting) {
        for (const std::size_t c : targets) data.targets.push_back(table.number(r, c));
      }
      if (time) data.row_labels.emplace_back(table.text(r, *time));
      selection.source_rows.push_back(r);
    }
  }
  data.rows = selection.source_rows.size();
  data.description = description;
  return selection;
}

}  // namespace trainer
