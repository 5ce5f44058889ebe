// Builds a network, trains it, keeps its weights, and restores them into a fresh network.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "oscnet.h"

namespace {

// One input, 8 tanh(6x) units, one output; built on (and fitted to) one example.
bool build(double* x, double* y) {
  int layers = 1, inputs = 1, outputs = 1, units[] = {8}, activations[] = {2};
  return build_net(&layers, &inputs, &outputs, x, y, units, activations);
}

int fail(const char* what) {
  std::fprintf(stderr, "consumer: %s\n", what);
  release_net();
  return 1;
}

}  // namespace

int main() {
  double x[] = {0.5}, y[] = {0.25};
  if (!build(x, y)) return fail("build_net failed");

  double rate = 0.05;
  int optimizer = 0;  // 0 gradient descent, 1 Adagrad
  const double first = train(1, 1, x, y, 1, &rate, &optimizer);
  const double last = train(1, 1, x, y, 200, &rate, &optimizer);
  if (!(std::isfinite(first) && last < first)) return fail("training did not lower the loss");

  double trained[1];
  Predict(1, 1, x, trained);

  // Save the weights, start again from a new random network, and put them back.
  const int n = oscnet_param_count();
  std::vector<double> weights(n > 0 ? n : 0);
  if (n <= 0 || oscnet_get_params(weights.data(), n) != n) return fail("cannot read weights");
  release_net();
  if (!build(x, y)) return fail("second build_net failed");
  if (oscnet_set_params(weights.data(), n) != n) return fail("cannot write weights");

  double restored[1];
  Predict(1, 1, x, restored);
  release_net();
  if (std::memcmp(restored, trained, sizeof trained) != 0) {
    return fail("restored network predicts differently");
  }
  std::printf("oscnet %s: loss %.3g -> %.3g, restored prediction %.6f matches\n",
              OSCNET_VERSION_STRING, first, last, restored[0]);
  return 0;
}
