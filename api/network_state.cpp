#include "api/network_state.h"

namespace oscnet {
namespace {

// Made before the references below are bound (same translation unit, definition order).
Network default_object;

}  // namespace

Network& default_network() {
  return default_object;
}

Nodes*& loss_node = default_object.loss_node;
Nodes*& output_node = default_object.output_node;
Nodes*& input_node = default_object.input_node;
Nodes*& target_node = default_object.target_node;
std::vector<Nodes*>& parameters = default_object.parameters;
EvaluationPlan& plan = default_object.plan;

void release_network() noexcept {
  const std::lock_guard<NetworkMutex> lock(default_object.mutex);
  default_object.release();
}

}  // namespace oscnet
