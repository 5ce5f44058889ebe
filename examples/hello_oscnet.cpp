// A first oscnet host: teaches a small network y = sin(pi x) one example at a time, through the
// exported C functions only, once with tanh hidden units and once with Lee-oscillator ones.
#include <cmath>
#include <cstdio>

#include "oscnet.h"

namespace {

constexpr int kSamples = 20;
constexpr double kPi = 3.14159265358979323846;

// The training set: kSamples evenly spaced points on [-1, 1].
struct Curve {
  double x[kSamples];
  double y[kSamples];
};

double network_at(double x) {
  double y = 0.0;
  Predict(1, 1, &x, &y);
  return y;
}

// Measured with Predict after the epoch: train() returns each sample's loss before its own step.
double mean_loss(const Curve& curve) {
  double sum = 0.0;
  for (int i = 0; i < kSamples; ++i) {
    const double error = network_at(curve.x[i]) - curve.y[i];
    sum += error * error;
  }
  return sum / kSamples;
}

// One hidden layer of 16 units with the given activation code, trained by gradient descent.
bool fit(const char* title, Curve& curve, int activation, double learning_rate, int epochs) {
  int layers = 1, inputs = 1, outputs = 1, units = 16;
  int gradient_descent = 0;
  // The first sample only sizes the rows; a new network replaces the one built before.
  if (!build_net(&layers, &inputs, &outputs, &curve.x[0], &curve.y[0], &units, &activation)) {
    std::fprintf(stderr, "build_net failed: the network could not be built\n");
    return false;
  }
  std::printf("\n%s, learning rate %g\n", title, learning_rate);
  std::printf("  epoch %5d   mean loss %.2e\n", 0, mean_loss(curve));
  for (int epoch = 1; epoch <= epochs; ++epoch) {
    for (int i = 0; i < kSamples; ++i) {
      const double loss =
          train(1, 1, &curve.x[i], &curve.y[i], 1, &learning_rate, &gradient_descent);
      if (std::isnan(loss)) {
        std::fprintf(stderr, "train failed at epoch %d\n", epoch);
        return false;
      }
    }
    if (epoch % 500 == 0) std::printf("  epoch %5d   mean loss %.2e\n", epoch, mean_loss(curve));
  }
  // Points between the samples, to show it fits the curve and not just the samples.
  const double between[] = {-0.75, -0.4, 0.0, 0.3, 0.85};
  for (double x : between) {
    std::printf("  x = %5.2f   sin(pi x) = %6.3f   network = %6.3f\n", x, std::sin(kPi * x),
                network_at(x));
  }
  return true;
}

}  // namespace

int main() {
  const int difference = myAdd(2, 5);  // prints "I am here!": the library is loaded
  std::printf("myAdd(2, 5) = %d\n", difference);

  Curve curve;
  for (int i = 0; i < kSamples; ++i) {
    curve.x[i] = -1.0 + 2.0 * i / (kSamples - 1);
    curve.y[i] = std::sin(kPi * curve.x[i]);
  }

  // Weights start random (seeded from the clock), so the numbers differ from run to run.
  // The Lee oscillator draws random samples on every forward pass: its loss is noisier.
  const bool ok = fit("tanh(6x) hidden layer", curve, 2, 0.01, 3000) &&
                  fit("Lee-oscillator hidden layer", curve, 3, 0.02, 2000);
  release_net();
  return ok ? 0 : 1;
}
