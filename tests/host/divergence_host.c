/* Learning rates that make training blow up (1e150 to the largest double, infinite and
 * not-a-number): the library must go on answering; every loss it returns must be the true loss of
 * the outputs the network gives, so not-a-number as soon as one weight is, never a finite value
 * the weights cannot give; and the next network built must train normally.
 * Usage: divergence_host PATH_TO_LIBOSCNET */
#define _POSIX_C_SOURCE 200809L

#include <float.h>
#include <math.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_checks.h"
#include "host_exports.h"

static struct oscnet_exports lib;

static double x[2] = {0.5, -0.25};
static double y[2] = {0.3, -0.7};

static bool build(int code) {
  int layers = 2, inputs = 2, outputs = 2, units[2] = {5, 3}, codes[2] = {code, code};
  return lib.build_net(&layers, &inputs, &outputs, x, y, units, codes);
}

/* The library's loss: left-to-right sum of pow(output - target, 2). */
static double loss_of(const double* output) {
  double sum = 0.0;
  for (int j = 0; j < 2; ++j) sum = pow(output[j] - y[j], 2.0) + sum;
  return sum;
}

static bool same(double a, double b) {
  return (isnan(a) && isnan(b)) || memcmp(&a, &b, sizeof a) == 0;
}

/* Counts the weights that are not finite, and of those the not-a-number ones. */
static void count_weights(int* not_finite, int* nan) {
  double params[64];
  int n = lib.param_count();
  *not_finite = *nan = 0;
  CHECK(n > 0 && n <= 64 && lib.get_params(params, n) == n);
  for (int j = 0; j < n && j < 64; ++j) {
    if (!isfinite(params[j])) ++*not_finite;
    if (isnan(params[j])) ++*nan;
  }
}

/* Outcomes over all runs, reported at the end. */
static int runs_through_infinity = 0, runs_ending_nan = 0, runs_ending_finite = 0;

/* One step at a time: each loss returned must be the one of the outputs Predict gave just before
 * it (the oscillator's draws seeded alike). Returns the last loss. */
static double diverge(int code, double rate, int optimizer, int steps) {
  CHECK(build(code));
  double loss = 0.0;
  bool through_infinity = false;
  for (int step = 0; step < steps; ++step) {
    int not_finite = 0, nan = 0;
    count_weights(&not_finite, &nan);
    double out[2];
    srand(11);
    lib.predict(2, 2, x, out);
    srand(11);
    loss = lib.train(2, 2, x, y, 1, &rate, &optimizer);
    if (!same(loss, loss_of(out)) || (nan > 0 && !isnan(loss))) {
      fprintf(stderr,
              "code %d rate %g optimizer %d step %d: loss %g, outputs give %g, %d weights "
              "not-a-number\n",
              code, rate, optimizer, step, loss, loss_of(out), nan);
      CHECK(same(loss, loss_of(out)) && (nan == 0 || isnan(loss)));
      return loss;
    }
    if (isinf(loss)) through_infinity = true;
    /* Not-a-number times any gradient is not-a-number: one step spoils every weight. */
    if (isnan(rate) && step > 0) CHECK(nan == lib.param_count());
  }
  /* The same holds over many iterations in one call. */
  double many = lib.train(2, 2, x, y, 50, &rate, &optimizer);
  int not_finite = 0, nan = 0;
  count_weights(&not_finite, &nan);
  CHECK(nan == 0 || isnan(many));
  runs_through_infinity += through_infinity;
  runs_ending_nan += isnan(many);
  runs_ending_finite += isfinite(many);
  if (isfinite(many)) {
    printf("code %d rate %g optimizer %d: finite loss %g with %d weights not finite\n", code, rate,
           optimizer, many, not_finite);
  }
  return many;
}

/* A network built after the blow-ups trains as any other. */
static void check_fresh_network_learns(void) {
  double rate = 0.05;
  int gradient_descent = 0;
  CHECK(build(2));
  double first = lib.train(2, 2, x, y, 1, &rate, &gradient_descent), last = first;
  for (int call = 0; call < 20; ++call) last = lib.train(2, 2, x, y, 20, &rate, &gradient_descent);
  CHECK(isfinite(first) && isfinite(last) && last < first / 10.0);
}

int main(int argc, char** argv) {
  library_handle library = load_library(argc, argv);
  if (!load_exports(library, &lib)) return 1;

  /* Every activation (4: none), both optimizers. A network without activations has nothing to
   * saturate: gradient descent at these rates must end in a loss that is not finite. */
  const double rates[] = {1e150, 1e300, DBL_MAX, NAN, INFINITY, -INFINITY};
  for (int code = 0; code <= 4; ++code) {
    for (int r = 0; r < 6; ++r) {
      for (int optimizer = 0; optimizer <= 1; ++optimizer) {
        double loss = diverge(code, rates[r], optimizer, 40);
        if (code == 4 && optimizer == 0) CHECK(!isfinite(loss));
      }
    }
  }
  printf(
      "divergence host: of 60 runs, %d passed through an infinite loss, %d ended in "
      "not-a-number, %d finite\n",
      runs_through_infinity, runs_ending_nan, runs_ending_finite);
  check_fresh_network_learns();

  lib.release_net();
  return finish(library, "divergence host");
}
