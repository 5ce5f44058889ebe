#include <algorithm>
#include <limits>

#include <vector>

#include "api/entry_points.h"
#include "api/network_state.h"
#include "network/backward.h"
#include "network/optimizer.h"

namespace oscnet {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void write_example(int input_size, int output_size, const double* input_row,
                   const double* target_row) {
  std::copy_n(input_row, input_size, input_node->value.data());
  std::copy_n(target_row, output_size, target_node->value.data());
}

// The loss of the last evaluation, or not-a-number when there has been none.
double held_loss() {
  const MatrixXd& loss = loss_node->value;
  return loss.size() > 0 ? loss(0, 0) : kNaN;
}

double run_iterations(Optimizer& optimizer, std::vector<MatrixXd>* sums, int iterations) {
  // The process-wide network has always left its last step's gradients in the nodes.
  run_training(plan, optimizer, sums, iterations, true);
  return held_loss();
}

}  // namespace

double train_network(int input_size, int output_size, const double* input_row,
                     const double* target_row, int iterations, const double* learning_rate,
                     const int* optimizer_code) {
  const std::lock_guard<NetworkMutex> lock(default_network().mutex);
  if (!network_built()) return kNaN;
  if (!row_fits(input_size, input_row, input_node->value.cols()) ||
      !row_fits(output_size, target_row, target_node->value.cols()) || !learning_rate ||
      !optimizer_code) {
    return kNaN;
  }
  if (iterations <= 0) {
    write_example(input_size, output_size, input_row, target_row);
    return held_loss();
  }
  // The optimizer is made before the example is written, so that running out of memory here
  // leaves the network exactly as it was.
  if (*optimizer_code == 1) {
    Adagrad_Optimizer adagrad(parameters, *learning_rate);
    write_example(input_size, output_size, input_row, target_row);
    return run_iterations(adagrad, &adagrad.accum, iterations);
  }
  G_D_Optimizer GD(parameters, *learning_rate);
  write_example(input_size, output_size, input_row, target_row);
  return run_iterations(GD, nullptr, iterations);
}

}  // namespace oscnet
