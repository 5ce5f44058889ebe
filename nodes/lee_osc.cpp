#include "nodes/lee_osc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "nodes/tanh_quotient.h"

namespace oscnet {

Lee_Osc::Lee_Osc(Nodes& operand) {
  link_copying_value(operand);
  table = shared_lee_table();
}

void Lee_Osc::compute() {
  const MatrixXd& x = left->value;
  reshape(value, x.rows(), x.cols());
  LeeDrawSource* const source = draws.get();
  // Row-major order fixes which draw each coefficient takes.
  for (Eigen::Index r = 0; r < x.rows(); ++r) {
    for (Eigen::Index c = 0; c < x.cols(); ++c) {
      const double v = x(r, c);
      if (v > 1.0) {
        value(r, c) = 1.0;
      } else if (v < -1.0) {
        value(r, c) = -1.0;
      } else if (std::isnan(v)) {
        value(r, c) = v;
      } else {
        // v lies in [-1, 1], so the row is 0..1000; the clamp only guards the table bounds.
        const int row =
            std::clamp(static_cast<int>(std::floor((v - (-1.0)) / 0.002)), 0, kLeeRows - 1);
        const int sample = source != nullptr ? source->draw() : std::rand() % kLeeSamples;
        value(r, c) = table[row * kLeeSamples + sample];
      }
    }
  }
}

void Lee_Osc::backprop() {
  if (left->requires_grad) write_tanh_slope(left->value, steepness, left->local_grad);
}

bool Lee_Osc::chain_to_operands() {
  if (!same_shape(grad, left->value)) return false;
  if (left->requires_grad) {
    const double k = steepness;
    left->grad = grad.cwiseProduct(
        left->value.unaryExpr([k](double x) { return tanh_quotient_slope(x, k); }));
  }
  return true;
}

}  // namespace oscnet
