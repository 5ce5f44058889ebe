#pragma once

#include <initializer_list>

#include "nodes/nodes.h"

namespace oscnet::testing {

/// A rows x cols matrix from its coefficients listed row by row.
inline MatrixXd matrix(Eigen::Index rows, Eigen::Index cols, std::initializer_list<double> values) {
  MatrixXd m(rows, cols);
  auto it = values.begin();
  for (Eigen::Index i = 0; i < rows; ++i)
    for (Eigen::Index j = 0; j < cols; ++j) m(i, j) = *it++;
  return m;
}

/// A one-row matrix.
inline MatrixXd row(std::initializer_list<double> values) {
  return matrix(1, static_cast<Eigen::Index>(values.size()), values);
}

}  // namespace oscnet::testing
