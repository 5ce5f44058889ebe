#include "nodes/lee_osc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace oscnet {

Lee_Osc::Lee_Osc(Nodes& operand) : Elementwise(operand) {
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

}  // namespace oscnet
