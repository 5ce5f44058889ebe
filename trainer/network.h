#ifndef OSCNET_TRAINER_NETWORK_H
#define OSCNET_TRAINER_NETWORK_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "oscnet.h"
#include "trainer/activation.h"
#include "trainer/scaling.h"

namespace trainer {

/// The library ran short of memory for a network; the message names the network's size.
class OutOfMemory : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// "4 -> 16 -> 8 -> 1 units (225 weights)".
std::string describe_layout(const WeightLayout& layout);

/// One network handle of the library, destroyed with the object. Networks are independent:
/// each may be used on its own thread.
class Network {
 public:
  /// Creates the network; `seed` seeds its own random streams (the oscillator's draws among
  /// them). Throws OutOfMemory when the library has not the memory for it, and InputError when
  /// it refuses it for another reason, with the library's reason.
  Network(int inputs, int outputs, const std::vector<HiddenLayer>& layers, std::uint32_t seed);

  /// Input width, hidden units, output width.
  const WeightLayout& layout() const { return layout_; }
  int inputs() const { return layout_.widths.front(); }
  int outputs() const { return layout_.widths.back(); }

  std::vector<double> params() const;
  void set_params(const std::vector<double>& params);

  /// `iterations` steps on one example; the loss before the last step, not-a-number when it
  /// left the range of numbers. Adagrad's sums carry over from call to call. Throws OutOfMemory
  /// when the library ran short of memory.
  double train(const double* input, const double* target, int iterations, double learning_rate,
               int optimizer_code);
  /// The output row for `input`, written to `output`.
  void predict(const double* input, double* output);
  /// The output rows for `rows` input rows, row by row: what predict() gives row after row.
  void predict_rows(const double* inputs, std::size_t rows, double* outputs);

 private:
  struct Destroy {
    void operator()(oscnet_network* net) const { oscnet_destroy(net); }
  };
  WeightLayout layout_;
  std::unique_ptr<oscnet_network, Destroy> handle_;
};

}  // namespace trainer

#endif
