/* A host as any C program would be one: it loads liboscnet at run time and reaches it only
 * through the exported names. Usage: boundary_host PATH_TO_LIBOSCNET */
#define _POSIX_C_SOURCE 200809L

#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "oscnet.h"

static int failures = 0;

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                                   \
    }                                                                               \
  } while (0)

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
  if (argc != 2) {
    fprintf(stderr, "usage: %s PATH_TO_LIBOSCNET\n", argv[0]);
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }

  /* POSIX's way to turn dlsym's object pointer into a function pointer. */
  my_add_fn my_add;
  release_net_fn release;
  *(void**)(&my_add) = dlsym(library, "myAdd");
  *(void**)(&release) = dlsym(library, "release_net");
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

  CHECK(dlclose(library) == 0);
  if (failures != 0) {
    fprintf(stderr, "boundary host: %d check(s) failed\n", failures);
    return 1;
  }
  printf("boundary host: all checks passed\n");
  return 0;
}
