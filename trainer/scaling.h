#ifndef OSCNET_TRAINER_SCALING_H
#define OSCNET_TRAINER_SCALING_H

#include <cstddef>
#include <vector>

namespace trainer {

/// Per column, scaled = factor * value + offset.
struct ColumnScaling {
  std::vector<double> factor;
  std::vector<double> offset;

  /// Identity scaling of `columns` columns.
  static ColumnScaling identity(std::size_t columns);
  /// Maps each column's smallest value on the first `rows` rows to -1 and its largest to 1;
  /// a column constant on those rows is shifted to 0 instead, so that it stays invertible.
  static ColumnScaling to_unit_range(const std::vector<double>& cells, std::size_t columns,
                                     std::size_t rows);

  /// Brings each column to mean 0 and deviation 1 on the first `rows` rows (the deviation of
  /// those rows, divided by their count); a column constant on them, or whose deviation is too
  /// small or too large to divide by, is shifted to mean 0 instead, so that it stays finite
  /// and invertible.
  static ColumnScaling to_standard(const std::vector<double>& cells, std::size_t columns,
                                   std::size_t rows);

  std::size_t columns() const { return factor.size(); }
  /// Scales every row of `cells` in place.
  void apply(std::vector<double>& cells) const;
  /// Undoes apply() on one row of columns() values.
  void invert_row(double* row) const;
};

/// The network's weights as columns of numbers: for each layer, the weight matrix (width x
/// units, column by column) and then the bias row, the output layer last. `widths` lists the
/// input width, every hidden layer's units and the output width.
struct WeightLayout {
  std::vector<int> widths;
  /// The number of weights and biases; SIZE_MAX when that many or more.
  std::size_t count() const;
};

/// Turns weights that work on scaled inputs and give scaled outputs into weights that work on
/// the data's own units: the input scaling is folded into the first layer and the output
/// scaling into the output layer, which has no activation after it.
void fold_scaling(std::vector<double>& params, const WeightLayout& layout,
                  const ColumnScaling& inputs, const ColumnScaling& outputs);

/// The inverse of fold_scaling.
void unfold_scaling(std::vector<double>& params, const WeightLayout& layout,
                    const ColumnScaling& inputs, const ColumnScaling& outputs);

}  // namespace trainer

#endif
