#pragma once

#include <cmath>
#include <limits>

#include "nodes/elementwise.h"
#include "nodes/tanh_quotient.h"

namespace oscnet {

/// Rectifier (|x| + x) / 2.
class ReLu : public Elementwise<ReLu> {
 public:
  static constexpr bool kOutputIsFunction = true;
  explicit ReLu(Nodes& operand) : Elementwise(operand) {}
  /// max(x, 0); minus infinity, where the formula gives inf - inf, gives its limit 0.
  double function(double x) const {
    if (x == -std::numeric_limits<double>::infinity()) return 0.0;
    return (std::abs(x) + x) / 2.0;
  }
  /// 1 where x > 0, else 0.
  double slope(double x, double /*y*/) const { return x > 0.0 ? 1.0 : 0.0; }
};

/// Logistic function 1 / (1 + e^{-x}).
class Sigmoid : public Elementwise<Sigmoid> {
 public:
  static constexpr bool kOutputIsFunction = true;
  explicit Sigmoid(Nodes& operand) : Elementwise(operand) {}
  double function(double x) const { return 1.0 / (1.0 + std::exp(-1.0 * x)); }
  /// S(x) (1 - S(x)).
  double slope(double /*x*/, double s) const { return s * (1.0 - s); }
};

/// Hyperbolic tangent of steepness * x.
class Tanh : public Elementwise<Tanh> {
 public:
  static constexpr bool kOutputIsFunction = true;
  explicit Tanh(Nodes& operand) : Elementwise(operand) {}
  double function(double x) const { return tanh_quotient(x, steepness); }
  /// steepness (1 - T^2); zero where the quotient saturated.
  double slope(double /*x*/, double t) const { return steepness * (1.0 - t * t); }

  const double steepness = 6.0;  ///< factor of x inside the exponentials
};

}  // namespace oscnet
