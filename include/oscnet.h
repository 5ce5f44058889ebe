/*
 * oscnet: fully connected neural networks driven through plain C functions. Usable from C99 and
 * C++.
 *
 * Two families of functions:
 * - Network handles (oscnet_create ... oscnet_destroy): as many networks as the host likes, each
 *   with its own seeded random streams and optimizer state. Different networks may be used from
 *   different threads at the same time with no lock between them; overlapping calls on one
 *   handle are serialised by that network's own lock, so they are safe but do not run in
 *   parallel. Each handle function leaves oscnet_last_error() of its thread "" on success and
 *   a message on failure.
 * - The default network (build_net, train, Predict, release_net and the oscnet_*_params
 *   functions): one process-wide network, as in earlier versions. Call order: build_net once;
 *   then train, Predict and the weights functions any number of times, in any order; then
 *   release_net; then possibly build_net again. Overlapping calls from several threads are
 *   serialised. myAdd may be called at any time.
 *
 * Every row is a plain array of doubles; element j is column j of the network's single batch row.
 * The library keeps no pointer that it is given: every value is copied in or out during the call.
 * It reads and writes no files. Every array must hold at least as many values as the count that
 * goes with it says, since C cannot tell the library an array's length; every other argument is
 * checked, and each function says below what it does with bad input instead of crashing.
 */
#ifndef OSCNET_H
#define OSCNET_H

#include <stdbool.h>

/* The version of this header; the library built from the same sources has the same. */
#define OSCNET_VERSION_MAJOR 0
#define OSCNET_VERSION_MINOR 2
#define OSCNET_VERSION_PATCH 0
#define OSCNET_VERSION_STRING "0.2.0"

#if defined(_WIN32)
#if defined(OSCNET_BUILDING)
#define OSCNET_API __declspec(dllexport)
#else
#define OSCNET_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define OSCNET_API __attribute__((visibility("default")))
#else
#define OSCNET_API
#endif

/* The caller removes the arguments (cdecl), stated explicitly where 32-bit Windows has a choice. */
#if defined(_WIN32) && !defined(_WIN64)
#define OSCNET_CALL __cdecl
#else
#define OSCNET_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Builds the network from one example. Every argument is a pointer, counts included.
 * layer_units and activation_codes hold one entry per hidden layer; a layer count below 1 still
 * builds one hidden layer. Activation codes: 0 rectifier, 1 logistic, 2 tanh(6x),
 * 3 Lee oscillator, anything else none. Weights start as normal draws (deviation 0.01) from a
 * generator seeded once per process from the clock.
 * Returns true when the network was built; it then replaces the network built before, if any.
 * Returns false, and keeps the earlier network as it was, for a null pointer, a width or unit
 * count below 1, a network larger than the memory available to the process (the least of the
 * machine's physical memory, the process's address-space and data-segment limits, RLIMIT_AS and
 * RLIMIT_DATA, and what its control group's memory limit leaves unused), or memory running out.
 */
OSCNET_API bool OSCNET_CALL build_net(int* layer_count, int* input_size, int* output_size,
                                      double* input_row, double* target_row, int* layer_units,
                                      int* activation_codes);

/*
 * Trains on one example for `iterations` steps with gradient descent (*optimizer_code != 1) or
 * Adagrad (*optimizer_code == 1, state restarted on every call). Writes the first input_size
 * inputs and output_size targets (the others keep their last values). Returns the loss
 * sum_j (output_j - target_j)^2 measured before the last step; with iterations <= 0 it writes the
 * example and returns the loss of the last evaluation.
 * Returns not-a-number, changing nothing, without a network, for a size below 0 or above the
 * built width, a null row with a positive size, a null learning_rate or optimizer_code, and when
 * memory runs out (the network stays usable). With iterations <= 0 before any training it writes
 * the example and returns not-a-number: there is no loss yet.
 */
OSCNET_API double OSCNET_CALL train(int input_size, int output_size, double* input_row,
                                    double* target_row, int iterations, double* learning_rate,
                                    int* optimizer_code);

/*
 * Writes the first input_size inputs (the others keep their last values), evaluates the network
 * and copies the first output_size outputs into output_row. Leaves the training loss alone.
 * Without a network, or for a size below 0 or above the built width or a null row with a
 * positive size, evaluates nothing and writes not-a-number into output_row[0 .. output_size-1]
 * when output_row is not null. When memory runs out it writes not-a-number into the same values.
 */
OSCNET_API void OSCNET_CALL Predict(int input_size, int output_size, double* input_row,
                                    double* output_row);

/* Destroys the network. Does nothing when no network is built, so calling it twice is safe. */
OSCNET_API void OSCNET_CALL release_net(void);

/*
 * Weights in and out, so that a host can keep a trained network: build the same layers again,
 * then set the saved values. The values are all weight matrices and bias rows, layer by layer
 * from the input (weights, then bias), each matrix column by column.
 */

/* Number of doubles in all weights and biases; 0 without a network, -1 above INT_MAX. */
OSCNET_API int OSCNET_CALL oscnet_param_count(void);

/*
 * Copies all weights and biases into out[0 .. n-1] and returns n. Returns -1 and copies nothing
 * without a network, for a null out, or when n is not oscnet_param_count().
 */
OSCNET_API int OSCNET_CALL oscnet_get_params(double* out, int n);

/*
 * Overwrites all weights and biases from in[0 .. n-1], in the order oscnet_get_params writes
 * them, and returns n. Returns -1 and changes nothing without a network, for a null in, or when
 * n is not oscnet_param_count(). Not-a-number and infinite values are taken as they are.
 */
OSCNET_API int OSCNET_CALL oscnet_set_params(const double* in, int n);

/*
 * Network handles. Every function takes the handle first; inputs are const. Activation codes and
 * widths are as for build_net. Rows are arrays of exactly the network's input or output width;
 * several rows are stored one after another (row-major).
 */

/* A network; create with oscnet_create, free with oscnet_destroy. */
typedef struct oscnet_network oscnet_network;

/* Optimizer codes for oscnet_train. */
#define OSCNET_GRADIENT_DESCENT 0
#define OSCNET_ADAGRAD 1

/* Results of the handle functions that return an int status. */
#define OSCNET_OK 0
#define OSCNET_ERROR_ARGUMENT (-1) /* a null handle or array, or a size or code out of range */
#define OSCNET_ERROR_MEMORY (-2)   /* memory ran out; the network is as it was */

/*
 * Creates a network of input_size inputs, layer_count hidden layers (layer_units[l] units with
 * activation_codes[l] each; codes as for build_net) and output_size outputs. Weights start as
 * normal draws (deviation 0.01) from the network's own MT19937 seeded with `seed`, drawn as
 * build_net draws them. Each Lee-oscillator layer l (0 for the first hidden layer) draws its
 * samples from an MT19937 of its own seeded with std::seed_seq{seed, l}, one output modulo 100
 * per coefficient in [-1, 1], row by row. Returns NULL for a null array, a width, count or unit
 * count below 1, a network larger than the memory available to the process (as for build_net;
 * the message gives both sizes and the limit), or memory running out.
 */
OSCNET_API oscnet_network* OSCNET_CALL oscnet_create(int input_size, int output_size,
                                                     int layer_count, const int* layer_units,
                                                     const int* activation_codes,
                                                     unsigned int seed);

/* Frees the network and everything it holds. A null handle is harmless. */
OSCNET_API void OSCNET_CALL oscnet_destroy(oscnet_network* net);

/* The network's input or output width; -1 for a null handle. */
OSCNET_API int OSCNET_CALL oscnet_input_size(const oscnet_network* net);
OSCNET_API int OSCNET_CALL oscnet_output_size(const oscnet_network* net);

/*
 * Trains on one example for `iterations` (>= 1) steps of OSCNET_GRADIENT_DESCENT or OSCNET_ADAGRAD
 * and returns the loss sum_j (output_j - target_j)^2 measured before the last step. Adagrad's
 * sums of squared gradients persist from call to call until oscnet_reset_optimizer. Returns
 * not-a-number, changing nothing, for a null handle or row, iterations below 1, an unknown
 * optimizer code, or memory running out.
 */
OSCNET_API double OSCNET_CALL oscnet_train(oscnet_network* net, const double* input_row,
                                           const double* target_row, int iterations,
                                           double learning_rate, int optimizer_code);

/* Starts Adagrad's sums of squared gradients afresh. Returns OSCNET_OK, or an error code. */
OSCNET_API int OSCNET_CALL oscnet_reset_optimizer(oscnet_network* net);

/*
 * Evaluates the network on one input row and writes its outputs to output_row. Returns OSCNET_OK,
 * or an error code after writing not-a-number to the outputs where the handle and output_row are
 * not null.
 */
OSCNET_API int OSCNET_CALL oscnet_predict(oscnet_network* net, const double* input_row,
                                          double* output_row);

/*
 * Evaluates row_count (>= 0) input rows at once and writes row_count output rows: the same values
 * as row_count calls of oscnet_predict, in order (Lee-oscillator units take the same draws).
 * Returns OSCNET_OK, or an error code after writing not-a-number to every output where
 * the handle and output_rows are not null and row_count is in range (at least 0, and rows that a
 * pointer can address). Rows are evaluated in blocks of at most 256, so memory stays bounded.
 */
OSCNET_API int OSCNET_CALL oscnet_predict_rows(oscnet_network* net, const double* input_rows,
                                               int row_count, double* output_rows);

/* Number of doubles in all weights and biases; -1 for a null handle or above INT_MAX. */
OSCNET_API int OSCNET_CALL oscnet_weights_count(const oscnet_network* net);

/*
 * Copies all weights and biases, in the order oscnet_get_params uses, into out[0 .. n-1] and
 * returns n; returns -1, copying nothing, for a null handle or array or n not the count.
 */
OSCNET_API int OSCNET_CALL oscnet_get_weights(const oscnet_network* net, double* out, int n);

/*
 * Overwrites all weights and biases from in[0 .. n-1] and returns n; returns -1, changing
 * nothing, for a null handle or array or n not the count. Adagrad's sums are left as they are.
 */
OSCNET_API int OSCNET_CALL oscnet_set_weights(oscnet_network* net, const double* in, int n);

/*
 * The message of the calling thread's latest handle function call: "" when that call succeeded
 * (every handle function clears the message on entry), the reason when it failed. So after a
 * not-a-number from oscnet_train, "" means the training itself diverged, and a message means the
 * call was refused or memory ran out. The text stays valid until that thread's next handle
 * function call; it is never NULL. The default network's functions leave it alone.
 */
OSCNET_API const char* OSCNET_CALL oscnet_last_error(void);

/* Diagnostic: prints "I am here!" on its own line and returns first - second (wrapping). */
OSCNET_API int OSCNET_CALL myAdd(int first, int second);

#ifdef __cplusplus
}
#endif

#endif /* OSCNET_H */
