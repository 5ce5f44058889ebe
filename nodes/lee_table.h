#pragma once

namespace oscnet {

/// Rows of the oscillator table, one per input of the sweep -1, -0.998, ..., 1.
inline constexpr int kLeeRows = 1001;
/// Recorded oscillator outputs per row.
inline constexpr int kLeeSamples = 100;
/// Steepness of the oscillator's transfer function, and of its surrogate derivative.
inline constexpr double kLeeSteepness = 4.0;

/// Runs the Lee oscillator once over the input sweep, with transfer tanh(k a), and writes
/// kLeeRows x kLeeSamples outputs, row-major, into `destination`. Returns the number of inputs
/// swept (kLeeRows; nothing is written past the table).
int sweep_lee_oscillator(double k, double* destination);

/// The table for kLeeSteepness, swept once per process on first use (thread-safe) and read-only
/// afterwards.
const double* shared_lee_table();

}  // namespace oscnet
