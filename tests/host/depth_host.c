/* A host asks for a network a million layers deep, one unit each and every activation in turn,
 * and builds, trains, predicts with, saves and releases it on a thread with a 256 KiB stack:
 * anything in the library that recursed once per node would overflow that stack at once. The
 * library may refuse the network for lack of memory, never crash on it.
 * Usage: depth_host PATH_TO_LIBOSCNET */
#define _POSIX_C_SOURCE 200809L

#include <math.h>
#include <pthread.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_checks.h"
#include "host_exports.h"

static struct oscnet_exports lib;

enum { layer_count = 1000000 };
/* Two inputs into the first layer, one unit into each next one, one output: weight and bias. */
enum { param_total = (2 + 1) + (layer_count - 1) * 2 + 2 };

static void* deep_network(void* unused) {
  (void)unused;
  int layers = layer_count, inputs = 2, outputs = 1;
  int* units = malloc(sizeof(int) * layer_count);
  int* codes = malloc(sizeof(int) * layer_count);
  double* saved = malloc(sizeof(double) * param_total);
  double* restored = malloc(sizeof(double) * param_total);
  if (units == NULL || codes == NULL || saved == NULL || restored == NULL) {
    CHECK(!"host memory for the description");
    goto done;
  }
  for (int l = 0; l < layer_count; ++l) {
    units[l] = 1;
    codes[l] = l % 5; /* rectifier, logistic, tanh, oscillator, none */
  }
  double x[2] = {0.5, -0.25}, y[1] = {0.3}, out[1], again[1];
  if (!lib.build_net(&layers, &inputs, &outputs, x, y, units, codes)) {
    printf("depth host: a million layers refused for lack of memory\n");
    CHECK(lib.param_count() == 0);
    goto done;
  }
  CHECK(lib.param_count() == param_total);

  /* The oscillator draws with rand(): seeded alike, the training step's evaluation repeats the
   * prediction's, and its loss is the prediction's squared error. */
  double rate = 0.1;
  int gradient_descent = 0;
  srand(7);
  lib.predict(2, 1, x, out);
  srand(7);
  double loss = lib.train(2, 1, x, y, 1, &rate, &gradient_descent);
  CHECK(isfinite(out[0]) && loss == pow(out[0] - y[0], 2.0));

  CHECK(lib.get_params(saved, param_total) == param_total);
  CHECK(lib.set_params(saved, param_total) == param_total);
  CHECK(lib.get_params(restored, param_total) == param_total);
  CHECK(memcmp(saved, restored, sizeof(double) * param_total) == 0);
  srand(8);
  lib.predict(2, 1, x, out);
  srand(8);
  lib.predict(0, 1, NULL, again);
  CHECK(isfinite(out[0]) && memcmp(out, again, sizeof out) == 0);

  lib.release_net();
  CHECK(lib.param_count() == 0);
done:
  free(units);
  free(codes);
  free(saved);
  free(restored);
  return NULL;
}

int main(int argc, char** argv) {
  library_handle library = load_library(argc, argv);
  if (!load_exports(library, &lib)) return 1;

  pthread_attr_t small_stack;
  pthread_t thread;
  CHECK(pthread_attr_init(&small_stack) == 0);
  CHECK(pthread_attr_setstacksize(&small_stack, 256 * 1024) == 0);
  CHECK(pthread_create(&thread, &small_stack, deep_network, NULL) == 0);
  CHECK(pthread_join(thread, NULL) == 0);
  pthread_attr_destroy(&small_stack);
  return finish(library, "depth host");
}
