/* A C99 program linked to an installed liboscnet through pkg-config:
 *   cc -std=c99 pkg_config_host.c $(pkg-config --cflags --libs oscnet) -o pkg_config_host */
#include <math.h>
#include <stdio.h>

#include "oscnet.h"

int main(void) {
  /* 2 inputs -> 8 rectifier units -> 1 output, built on its first example. */
  int layers = 1, inputs = 2, outputs = 1, units[] = {8}, activations[] = {0};
  double x[] = {0.5, -0.5}, y[] = {0.25}, out[1];
  if (!build_net(&layers, &inputs, &outputs, x, y, units, activations)) return 1;

  double rate = 0.05;
  int optimizer = 0;
  double first = train(2, 1, x, y, 1, &rate, &optimizer);
  double last = train(2, 1, x, y, 100, &rate, &optimizer);
  Predict(2, 1, x, out);
  release_net();
  if (!(isfinite(first) && last < first && fabs(out[0] - y[0]) < fabs(0.0 - y[0]))) {
    fprintf(stderr, "pkg-config host: training went wrong\n");
    return 1;
  }
  if (myAdd(2, 5) != -3) return 1;
  printf("pkg-config host: oscnet %s, loss %.3g -> %.3g\n", OSCNET_VERSION_STRING, first, last);
  return 0;
}
