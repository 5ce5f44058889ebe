/* The eight exports as a host sees them: one pointer per export with its exact signature,
 * caller-cleans-up (cdecl) on 32-bit Windows, and a worked example every full host runs.
 * Include after host_checks.h. */
#ifndef OSCNET_HOST_EXPORTS_H
#define OSCNET_HOST_EXPORTS_H

#include <stdbool.h>
#include <string.h>

/* The library header is deliberately not included: the signatures are the host's own. */
#if defined(_WIN32) && !defined(_WIN64)
#define HOST_CDECL __cdecl
#else
#define HOST_CDECL
#endif

typedef bool(HOST_CDECL* build_net_fn)(int*, int*, int*, double*, double*, int*, int*);
typedef double(HOST_CDECL* train_fn)(int, int, double*, double*, int, double*, int*);
typedef void(HOST_CDECL* predict_fn)(int, int, double*, double*);
typedef void(HOST_CDECL* release_net_fn)(void);
typedef int(HOST_CDECL* param_count_fn)(void);
typedef int(HOST_CDECL* get_params_fn)(double*, int);
typedef int(HOST_CDECL* set_params_fn)(const double*, int);
typedef int(HOST_CDECL* my_add_fn)(int, int);

struct oscnet_exports {
  build_net_fn build_net;
  train_fn train;
  predict_fn predict;
  release_net_fn release_net;
  param_count_fn param_count;
  get_params_fn get_params;
  set_params_fn set_params;
  my_add_fn my_add;
};

/* Looks up every export by its plain name; false, with a failed check each, for any missing. */
static bool load_exports(library_handle library, struct oscnet_exports* lib) {
  LOAD_SYMBOL(library, lib->build_net, "build_net");
  LOAD_SYMBOL(library, lib->train, "train");
  LOAD_SYMBOL(library, lib->predict, "Predict");
  LOAD_SYMBOL(library, lib->release_net, "release_net");
  LOAD_SYMBOL(library, lib->param_count, "oscnet_param_count");
  LOAD_SYMBOL(library, lib->get_params, "oscnet_get_params");
  LOAD_SYMBOL(library, lib->set_params, "oscnet_set_params");
  LOAD_SYMBOL(library, lib->my_add, "myAdd");
  int before = failures;
  CHECK(lib->build_net != NULL);
  CHECK(lib->train != NULL);
  CHECK(lib->predict != NULL);
  CHECK(lib->release_net != NULL);
  CHECK(lib->param_count != NULL);
  CHECK(lib->get_params != NULL);
  CHECK(lib->set_params != NULL);
  CHECK(lib->my_add != NULL);
  return failures == before;
}

/* 2 inputs, 2 rectifier units, 1 output, on weights chosen so that every value on the way is a
 * short binary fraction: sums are exact in any order, so the output, the loss and the weights
 * after one descent step are known exactly, on every target. */
static inline void check_worked_example(const struct oscnet_exports* lib) {
  int layers = 1, inputs = 2, outputs = 1, units[1] = {2}, codes[1] = {0};
  double x[2] = {0.5, -0.25}, target[1] = {0.25}, y[1] = {0.0};
  CHECK(lib->build_net(&layers, &inputs, &outputs, x, target, units, codes) == true);
  CHECK(lib->param_count() == 9);
  /* First weights column by column, first bias, output weights, output bias. */
  const double start[9] = {1.0, 0.5, -2.0, 1.0, 0.25, 0.5, 2.0, 3.0, -0.5};
  CHECK(lib->set_params(start, 9) == 9);

  /* Hidden (0.5 - 0.125 + 0.25, -1 - 0.25 + 0.5) = (0.625, -0.75), rectified (0.625, 0);
   * output 0.625 * 2 + 0 * 3 - 0.5. */
  lib->predict(2, 1, x, y);
  CHECK(y[0] == 0.75);

  /* One step returns the loss before it, (0.75 - 0.25)^2. The output's slope is 1, the first
   * unit's 2 and the second unit, being off, keeps its weights. */
  double rate = 0.125;
  int descent = 0;
  CHECK(lib->train(2, 1, x, target, 1, &rate, &descent) == 0.25);
  const double stepped[9] = {0.875, 0.5625, -2.0, 1.0, 0.0, 0.5, 1.921875, 3.0, -0.625};
  double now[9];
  CHECK(lib->get_params(now, 9) == 9);
  CHECK(memcmp(now, stepped, sizeof now) == 0);

  /* 0.296875 * 1.921875 - 0.625 */
  lib->predict(2, 1, x, y);
  CHECK(y[0] == -0.054443359375);
  lib->release_net();
  CHECK(lib->param_count() == 0);
}

#endif
