// The C entry points. Each is a thin shell over the core; nothing thrown inside may leave it.
#include <cstdio>

#include "api/network_state.h"
#include "oscnet.h"

extern "C" {

OSCNET_API void OSCNET_CALL release_net(void) {
  oscnet::release_network();
}

OSCNET_API int OSCNET_CALL myAdd(int first, int second) {
  std::printf("I am here!\n");
  // Flushed so the line is seen even if the host dies right after.
  std::fflush(stdout);
  // Two's-complement wrap instead of undefined behaviour on overflow.
  return static_cast<int>(static_cast<unsigned>(first) - static_cast<unsigned>(second));
}

}  // extern "C"
