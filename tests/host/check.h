/* The count of failed checks and CHECK, which records a failure and goes on, for the C hosts.
 * Each host is one translation unit that includes this once. */
#ifndef OSCNET_HOST_CHECK_H
#define OSCNET_HOST_CHECK_H

#include <stdio.h>

static int failures = 0;

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                                   \
    }                                                                               \
  } while (0)

#endif /* OSCNET_HOST_CHECK_H */
