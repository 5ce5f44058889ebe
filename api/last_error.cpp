#include "api/last_error.h"

#include <cstdarg>
#include <cstdio>

namespace oscnet {
namespace {

// A fixed buffer per thread: recording a failure must not itself fail for want of memory.
thread_local char message[256] = "";

}  // namespace

void set_last_error(const char* format, ...) noexcept {
  std::va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
}

void clear_last_error() noexcept {
  message[0] = '\0';
}

const char* last_error() noexcept {
  return message;
}

}  // namespace oscnet
