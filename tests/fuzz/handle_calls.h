// The handle functions under the call-sequence fuzzer: up to kSlots networks alive at once,
// created, used, destroyed and created again in whatever order the input says, each checked
// against a model of what it holds.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

#include "oscnet.h"

namespace fuzz {

constexpr int kSlots = 4;

// A network the harness holds a handle to, and what that network must hold.
struct HandleModel {
  oscnet_network* net = nullptr;
  int inputs = 0, outputs = 0, params = 0;
  int layers = 0;
  std::vector<int> units, codes;
  unsigned seed = 0;
  bool lee = false;             // its outputs depend on the network's own draws
  bool fresh_sums = true;       // no training since creation or the last reset
  std::vector<double> weights;  // as read back after every call that may have moved them
};

// A live handle picked by the input, or null (for an empty slot, or one time in eight).
HandleModel* pick_handle(FuzzedDataProvider& in);
// A live handle whose outputs are a function of its weights alone, or null if there is none.
HandleModel* pick_plain_handle(FuzzedDataProvider& in);
void read_weights(HandleModel& h);
// Every live handle still has its widths and the weights its model holds.
void check_handles();
void destroy_handles();

void do_create(FuzzedDataProvider& in, bool hostile);
void do_destroy(FuzzedDataProvider& in);
void do_handle_train(FuzzedDataProvider& in);
void do_handle_predict(FuzzedDataProvider& in);
void do_handle_rows(FuzzedDataProvider& in);
void do_handle_get(FuzzedDataProvider& in);
void do_handle_set(FuzzedDataProvider& in);
void do_handle_reset(FuzzedDataProvider& in);
void do_handle_sizes(FuzzedDataProvider& in);

}  // namespace fuzz
