// The practical floor for oscnet's arithmetic: the same forward pass, loss, gradients (the
// input's included) and updates, written as one fused, preallocated loop per layer that never
// stores a weight gradient.
#pragma once

#include <Eigen/Dense>
#include <vector>

#include "bench_networks.h"

namespace oscnet_bench {

class FusedFloor {
 public:
  /// Takes the weights in the order oscnet_get_params gives them. Activation codes 0, 1, 2 and
  /// none; the oscillator layer has no floor.
  FusedFloor(const Shape& shape, const std::vector<double>& params);

  /// One step on one example; returns the loss before the step, as oscnet's train does.
  double train_step(const double* x, const double* y, double lr, bool adagrad);
  /// The output row for `x`.
  void predict(const double* x, double* out);
  /// The weights, in oscnet's order.
  std::vector<double> params() const;

 private:
  struct Layer {
    Eigen::MatrixXd W, AW;                // weights, Adagrad sums
    Eigen::RowVectorXd b, Ab;             // bias, Adagrad sums
    Eigen::RowVectorXd z, a, g, g_below;  // pre-activation, output, gradients
    int code = -1;
  };
  void forward(const double* x);

  std::vector<Layer> layers_;
  Eigen::RowVectorXd input_, diff_;
};

}  // namespace oscnet_bench
