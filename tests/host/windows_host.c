/* A Windows host, 32- or 64-bit like the DLL it loads: loads the DLL with LoadLibraryA, finds
 * each export with GetProcAddress and calls it through its cdecl signature.
 * Usage: windows_host PATH_TO_LIBOSCNET_DLL */
#include <limits.h>
#include <math.h>
#include <stdbool.h>
#include <stdio.h>
#include <string.h>

#include "host_checks.h"
#include "host_exports.h"

static struct oscnet_exports lib;

static double in_a[3] = {0.5, -0.25, 0.75};
static double in_b[3] = {-0.6, 0.4, 0.1};
static double target_a[2] = {0.3, -0.2};

/* 3 inputs, rectifier and tanh layers, 2 outputs. */
static bool build(void) {
  int layers = 2, inputs = 3, outputs = 2, units[2] = {8, 4}, codes[2] = {0, 2};
  return lib.build_net(&layers, &inputs, &outputs, in_a, target_a, units, codes);
}

static void check_diagnostic(void) {
  CHECK(lib.my_add(2, 5) == -3);
  CHECK(lib.my_add(INT_MIN, 1) == INT_MAX);
  fflush(stdout);
}

static void check_without_network(void) {
  double rate = 0.1, out[2] = {1.0, 2.0}, params[1];
  int descent = 0;
  lib.release_net();
  lib.release_net();
  CHECK(isnan(lib.train(3, 2, in_a, target_a, 5, &rate, &descent)));
  lib.predict(3, 2, in_a, out);
  CHECK(isnan(out[0]) && isnan(out[1]));
  CHECK(lib.param_count() == 0);
  CHECK(lib.get_params(params, 0) == -1);
}

/* A refused build answers false and leaves the network as it was. */
static void check_refused_build(void) {
  double before[2], after[2];
  CHECK(build() == true);
  lib.predict(3, 2, in_a, before);
  int layers = 1, inputs = 3, outputs = 2, zero = 0, units[1] = {4}, codes[1] = {1};
  CHECK(lib.build_net(NULL, &inputs, &outputs, in_a, target_a, units, codes) == false);
  CHECK(lib.build_net(&layers, &zero, &outputs, in_a, target_a, units, codes) == false);
  CHECK(lib.build_net(&layers, &inputs, &outputs, in_a, target_a, units, NULL) == false);
  lib.predict(3, 2, in_a, after);
  CHECK(memcmp(before, after, sizeof after) == 0);
  double rate = 0.1;
  int descent = 0;
  CHECK(isnan(lib.train(4, 2, in_a, target_a, 1, &rate, &descent)));
  CHECK(isnan(lib.train(3, 2, in_a, target_a, 1, NULL, &descent)));
}

/* Both optimizers bring the loss down by two orders of magnitude; one step returns the loss of
 * the output Predict saw just before it. */
static void check_training(void) {
  for (int code = 0; code <= 1; ++code) {
    double rate = 0.1;
    CHECK(build());
    double first = lib.train(3, 2, in_a, target_a, 1, &rate, &code);
    double last = first;
    for (int call = 0; call < 10; ++call) last = lib.train(3, 2, in_a, target_a, 30, &rate, &code);
    CHECK(isfinite(first) && first > 0.0);
    CHECK(last / first < 0.01);
  }
  double y[2], rate = 0.1;
  int descent = 0;
  lib.predict(3, 2, in_a, y);
  double expected = pow(y[0] - target_a[0], 2.0) + pow(y[1] - target_a[1], 2.0);
  CHECK(lib.train(3, 2, in_a, target_a, 1, &rate, &descent) == expected);
}

/* A trained network survives release_net through its saved weights, bit for bit. */
static void check_weights_round_trip(void) {
  enum { count = (3 * 8 + 8) + (8 * 4 + 4) + (4 * 2 + 2) };
  static double saved[count], restored[count];
  double rate = 0.1, trained[2], y[2];
  int descent = 0;
  CHECK(build());
  CHECK(lib.param_count() == count);
  lib.train(3, 2, in_a, target_a, 40, &rate, &descent);
  lib.predict(3, 2, in_b, trained);
  CHECK(lib.get_params(saved, count) == count);
  lib.release_net();
  CHECK(lib.set_params(saved, count) == -1);

  CHECK(build());
  CHECK(lib.set_params(saved, count - 1) == -1);
  CHECK(lib.set_params(saved, count) == count);
  lib.predict(3, 2, in_b, y);
  CHECK(memcmp(y, trained, sizeof y) == 0);
  CHECK(lib.get_params(restored, count) == count);
  CHECK(memcmp(restored, saved, sizeof restored) == 0);
  lib.release_net();
}

int main(int argc, char** argv) {
  /* Names the width in the log: a host loads only a DLL of its own width (else error 193). */
  printf("windows host: %d-bit process\n", (int)(sizeof(void*) * CHAR_BIT));
  library_handle library = load_library(argc, argv);
  if (!load_exports(library, &lib)) return 1;

  check_diagnostic();
  check_without_network();
  check_worked_example(&lib);
  check_refused_build();
  check_training();
  check_weights_round_trip();
  return finish(library, "windows host");
}
