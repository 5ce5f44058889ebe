#pragma once

// What the exported C functions do, as C++ functions of the core. The exported shells add only
// the guarantee that no exception leaves the library.

namespace oscnet {

/// Builds the network from its description and one example and installs it in place of the
/// current one. Refuses (false, state unchanged) null pointers, widths or unit counts below 1,
/// networks larger than the machine's memory, and builds that run out of memory.
bool build_network(const int* layer_count, const int* input_size, const int* output_size,
                   const double* input_row, const double* target_row, const int* layer_units,
                   const int* activation_codes);

/// Writes the example and runs `iterations` of forward, backward and optimizer step; returns the
/// loss measured before the last step, or the loss held from the last evaluation when
/// `iterations` <= 0. Not-a-number without a network, for unusable arguments (nothing changed)
/// and when the loss was never evaluated. Throws std::bad_alloc if memory runs out; the network
/// stays usable.
double train_network(int input_size, int output_size, const double* input_row,
                     const double* target_row, int iterations, const double* learning_rate,
                     const int* optimizer_code);

/// Writes the first `input_size` inputs, evaluates the network and copies out the first
/// `output_size` outputs. Without a network, or with unusable arguments, evaluates nothing and
/// fills the output row with not-a-number where it safely can. Throws std::bad_alloc if memory
/// runs out; the arguments were usable then.
void predict(int input_size, int output_size, const double* input_row, double* output_row);

/// Number of doubles in all parameters: 0 without a network, -1 when it exceeds INT_MAX.
int param_count() noexcept;

/// Copies every parameter, in collection order and each matrix column by column, into `out`.
/// Returns `n`, or -1 (nothing copied) without a network, for a null `out`, or when `n` is not
/// the parameter count.
int get_params(double* out, int n) noexcept;

/// Overwrites every parameter from `in`, in the order get_params writes them. Returns `n`, or
/// -1 (nothing changed) under the same conditions as get_params.
int set_params(const double* in, int n) noexcept;

}  // namespace oscnet
