#include "api/network_mutex.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace oscnet {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "an SRWLOCK is one pointer");

void NetworkMutex::lock() {
  AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&slot_));
}

void NetworkMutex::unlock() {
  ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&slot_));
}

}  // namespace oscnet
#endif
