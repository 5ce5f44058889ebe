/*
 * oscnet: one fully connected neural network per process, driven through plain C functions.
 *
 * Call order: build_net once; then train and Predict any number of times, in any order; then
 * release_net; then possibly build_net again. myAdd may be called at any time. Calls must not
 * overlap: the network is process-wide state without locks.
 *
 * Every row is a plain array of doubles; element j is column j of the network's single batch row.
 *
 * This release exports release_net and myAdd. build_net, train and Predict are declared here
 * with their final signatures; the library does not export them yet, so a host that calls them
 * does not link (or, loading at run time, finds no such symbol).
 */
#ifndef OSCNET_H
#define OSCNET_H

#include <stdbool.h>

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
 * 3 Lee oscillator, anything else none. Returns true when the network was built.
 */
OSCNET_API bool OSCNET_CALL build_net(int* layer_count, int* input_size, int* output_size,
                                      double* input_row, double* target_row, int* layer_units,
                                      int* activation_codes);

/*
 * Trains on one example for `iterations` steps with gradient descent (*optimizer_code != 1) or
 * Adagrad (*optimizer_code == 1, state restarted on every call). Returns the loss
 * sum_j (output_j - target_j)^2 measured before the last step.
 */
OSCNET_API double OSCNET_CALL train(int input_size, int output_size, double* input_row,
                                    double* target_row, int iterations, double* learning_rate,
                                    int* optimizer_code);

/*
 * Writes the first input_size inputs (the others keep their last values), evaluates the network
 * and copies the first output_size outputs into output_row.
 */
OSCNET_API void OSCNET_CALL Predict(int input_size, int output_size, double* input_row,
                                    double* output_row);

/* Destroys the network. Does nothing when no network is built, so calling it twice is safe. */
OSCNET_API void OSCNET_CALL release_net(void);

/* Diagnostic: prints "I am here!" on its own line and returns first - second (wrapping). */
OSCNET_API int OSCNET_CALL myAdd(int first, int second);

#ifdef __cplusplus
}
#endif

#endif /* OSCNET_H */
