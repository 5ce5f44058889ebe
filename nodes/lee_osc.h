#pragma once

#include <cstdint>
#include <memory>
#include <random>

#include "nodes/elementwise.h"
#include "nodes/lee_table.h"
#include "nodes/tanh_quotient.h"

namespace oscnet {

/// A generator of sample indices owned by one oscillator unit, so that units of different
/// networks never take each other's draws: one MT19937 output modulo kLeeSamples per draw.
class LeeDrawSource {
 public:
  explicit LeeDrawSource(std::seed_seq& seed) : engine_(seed) {}
  int draw() { return static_cast<int>(engine_() % kLeeSamples); }

 private:
  std::mt19937 engine_;
};

/// Chaotic activation: each input coefficient in [-1, 1] picks, at random, one of the samples
/// that a Lee oscillator recorded for that input level; inputs beyond saturate to -1 or 1.
/// Gradients use the smooth surrogate tanh(steepness * x).
class Lee_Osc : public Elementwise<Lee_Osc> {
 public:
  /// The output is a sample, not the surrogate: slopes recompute the surrogate.
  static constexpr bool kOutputIsFunction = false;
  /// Links to `operand`; the first node in a process sweeps the oscillator, later ones reuse it.
  explicit Lee_Osc(Nodes& operand);
  /// One table lookup and one draw per coefficient in [-1, 1], in row-major order: from `draws`
  /// when the unit has a source of its own, otherwise from the C library's rand().
  /// Saturated coefficients take no draw; not-a-number stays not-a-number and takes none.
  void compute() override;
  /// The surrogate whose slope gradients take.
  double function(double x) const { return tanh_quotient(x, steepness); }
  /// steepness (1 - T^2) of the surrogate T.
  double slope(double /*x*/, double t) const { return steepness * (1.0 - t * t); }
  /// Fills `destination` (kLeeRows * kLeeSamples doubles) by sweeping with this node's steepness.
  void build_table(double* destination) const { sweep_lee_oscillator(steepness, destination); }

  const double* table = nullptr;           ///< kLeeRows x kLeeSamples, row-major, shared
  const double steepness = kLeeSteepness;  ///< of the transfer function and the surrogate
  std::unique_ptr<LeeDrawSource> draws;    ///< this unit's own samples; null: rand()
};

}  // namespace oscnet
