/* What the test hosts share: a count of failed checks, CHECK, loading the library named on the
 * command line, and the verdict. Each host is one translation unit that includes this once. */
#ifndef OSCNET_HOST_CHECKS_H
#define OSCNET_HOST_CHECKS_H

#include <stdio.h>
#include <stdlib.h>

#if defined(_WIN32)
#include <string.h>
#include <windows.h>
typedef HMODULE library_handle;
#else
#include <dlfcn.h>
typedef void* library_handle;
#endif

#include "check.h"

#if defined(_WIN32)
/* GetProcAddress answers a FARPROC: copying its bytes sets a pointer of any function type with
 * neither a cast between function types nor a store through a type-punned pointer. */
#define LOAD_SYMBOL(library, pointer, name)               \
  do {                                                    \
    FARPROC address_ = GetProcAddress((library), (name)); \
    memcpy(&(pointer), &address_, sizeof(pointer));       \
  } while (0)
#else
/* POSIX's way to turn dlsym's object pointer into a function pointer. */
#define LOAD_SYMBOL(library, pointer, name) (*(void**)(&(pointer)) = dlsym((library), (name)))
#endif

/* Loads the library given as the only argument; exits with status 2 or 1 when it cannot. */
static library_handle load_library(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s PATH_TO_LIBOSCNET\n", argv[0]);
    exit(2);
  }
#if defined(_WIN32)
  library_handle library = LoadLibraryA(argv[1]);
  if (library == NULL) {
    DWORD error = GetLastError();
    fprintf(stderr, "cannot load %s: error %lu%s\n", argv[1], (unsigned long)error,
            error == ERROR_BAD_EXE_FORMAT ? " (a DLL of the other width, 32- or 64-bit)" : "");
    exit(1);
  }
#else
  library_handle library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    exit(1);
  }
#endif
  return library;
}

/* Unloads the library, prints the verdict and returns the exit status. */
static int finish(library_handle library, const char* host) {
#if defined(_WIN32)
  CHECK(FreeLibrary(library) != 0);
#else
  CHECK(dlclose(library) == 0);
#endif
  if (failures != 0) {
    fprintf(stderr, "%s: %d check(s) failed\n", host, failures);
    return 1;
  }
  printf("%s: all checks passed\n", host);
  return 0;
}

#endif
