#pragma once

#include <Eigen/Dense>
#include <cmath>

namespace oscnet {

/// Beyond this |k x| the smaller exponential and the guard term are below half a unit in the last
/// place of the larger one (e^{-2 * 20} < 2^-53), so the quotient rounds to exactly +-1.
constexpr double kTanhQuotientSaturation = 20.0;

/// tanh(k x) as the quotient (e^{kx} - e^{-kx}) / (e^{kx} + e^{-kx} + 1e-10), with the runtime
/// library's exp. Where an exponential overflows the quotient would be inf/inf; the limit, the
/// sign of x, is returned instead. Not-a-number stays not-a-number. Saturated units, common in a
/// trained network, skip both exponentials: the quotient there is exactly +-1.
inline double tanh_quotient(double x, double k) {
  // (-k) x and -(k x) are the same double: rounding is symmetric.
  const double kx = k * x;
  if (std::abs(kx) >= kTanhQuotientSaturation) return kx > 0.0 ? 1.0 : -1.0;
  const double up = std::exp(kx);
  const double down = std::exp(-kx);
  const double t = (up - down) / (up + down + 1e-10);
  if (std::isnan(t) && !std::isnan(x)) return x > 0.0 ? 1.0 : -1.0;
  return t;
}

/// Derivative of tanh_quotient: k (1 - T^2). Zero where the quotient saturated.
inline double tanh_quotient_slope(double x, double k) {
  const double t = tanh_quotient(x, k);
  return k * (1.0 - t * t);
}

}  // namespace oscnet
