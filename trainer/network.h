#ifndef OSCNET_TRAINER_NETWORK_H
#define OSCNET_TRAINER_NETWORK_H

#include <vector>

#include "trainer/activation.h"
#include "trainer/scaling.h"

namespace trainer {

/// The library's one network, driven through its exported functions: built on construction,
/// released on destruction. Only one may exist at a time.
class Network {
 public:
  /// Builds the network with the example (`input`, `target`); throws InputError when the
  /// library refuses it.
  Network(int inputs, int outputs, const std::vector<HiddenLayer>& layers, const double* input,
          const double* target);
  ~Network();
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;

  /// Input width, hidden units, output width.
  const WeightLayout& layout() const { return layout_; }
  std::vector<double> params() const;
  void set_params(const std::vector<double>& params);

  /// `iterations` steps on one example; the loss before the last step.
  double train(const double* input, const double* target, int iterations, double learning_rate,
               int optimizer_code);
  /// The output row for `input`, written to `output`.
  void predict(const double* input, double* output) const;

 private:
  WeightLayout layout_;
};

}  // namespace trainer

#endif
