/* A host as any C program would be one: it loads liboscnet at run time and reaches it only
 * through the exported names. Usage: boundary_host PATH_TO_LIBOSCNET */
#define _POSIX_C_SOURCE 200809L

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "host_checks.h"
#include "oscnet.h"

typedef int (*my_add_fn)(int, int);
typedef void (*release_net_fn)(void);

/* Calls myAdd with standard output sent to a file, and returns what it printed. */
static int call_capturing_stdout(my_add_fn my_add, int first, int second, char* printed,
                                 size_t size) {
  FILE* capture = tmpfile();
  fflush(stdout);
  int saved = dup(STDOUT_FILENO);
  dup2(fileno(capture), STDOUT_FILENO);
  int result = my_add(first, second);
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  rewind(capture);
  size_t length = fread(printed, 1, size - 1, capture);
  printed[length] = '\0';
  fclose(capture);
  return result;
}

int main(int argc, char** argv) {
  library_handle library = load_library(argc, argv);
  my_add_fn my_add;
  release_net_fn release;
  LOAD_SYMBOL(library, my_add, "myAdd");
  LOAD_SYMBOL(library, release, "release_net");
  CHECK(my_add != NULL);
  CHECK(release != NULL);
  /* Internal C++ functions stay inside the library. */
  CHECK(dlsym(library, "_ZN6oscnet13release_graphEPNS_5NodesE") == NULL);
  CHECK(dlsym(library, "_ZN6oscnet15release_networkEv") == NULL);
  if (my_add == NULL || release == NULL) return 1;

  char printed[64];
  CHECK(call_capturing_stdout(my_add, 2, 5, printed, sizeof printed) == -3);
  CHECK(strcmp(printed, "I am here!\n") == 0);
  CHECK(call_capturing_stdout(my_add, 7, 7, printed, sizeof printed) == 0);
  CHECK(call_capturing_stdout(my_add, INT_MIN, 1, printed, sizeof printed) == INT_MAX);
  CHECK(call_capturing_stdout(my_add, INT_MAX, -1, printed, sizeof printed) == INT_MIN);

  /* Releasing without a network, and releasing twice, are harmless. */
  release();
  release();

  return finish(library, "boundary host");
}
