#include "trainer/dataset.h"

#include "trainer/input_error.h"

namespace trainer {

Dataset split_columns(std::string name, std::string description,
                      const std::vector<std::string>& column_names,
                      const std::vector<double>& cells, std::size_t columns,
                      std::size_t target_count) {
  if (target_count >= columns) {
    throw InputError(description + " has " + std::to_string(columns) + " column" +
                     (columns == 1 ? "" : "s") + ", so " + std::to_string(target_count) +
                     " target column" + (target_count == 1 ? "" : "s") +
                     " leave no input; --targets must be below the column count");
  }
  Dataset data;
  data.name = std::move(name);
  data.description = std::move(description);
  const std::size_t input_width = columns - target_count;
  for (std::size_t c = 0; c < columns; ++c) {
    (c < input_width ? data.input_names : data.target_names).push_back(column_names[c]);
  }
  data.rows = cells.size() / columns;
  data.inputs.reserve(data.rows * input_width);
  data.targets.reserve(data.rows * target_count);
  for (std::size_t r = 0; r < data.rows; ++r) {
    const double* row = &cells[r * columns];
    data.inputs.insert(data.inputs.end(), row, row + input_width);
    data.targets.insert(data.targets.end(), row + input_width, row + columns);
  }
  return data;
}

}  // namespace trainer
