#ifndef OSCNET_TRAINER_PIPELINE_RUN_NETWORK_H
#define OSCNET_TRAINER_PIPELINE_RUN_NETWORK_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "trainer/network.h"
#include "trainer/pipeline/run_state.h"
#include "trainer/random_streams.h"
#include "trainer/scaling.h"

namespace trainer {

/// Input width, hidden units and output width of the state's network.
WeightLayout layout_of(const RunState& state);

/// A network of the state's layers holding `params`, whose own random draws come from the
/// stream of `purpose` for the run of `seed`.
Network make_network(const RunState& state, std::uint32_t seed, Purpose purpose,
                     const std::vector<double>& params);

/// The first weights, in scaled units: the loaded ones, or normal draws as the library makes
/// them. Throws InputError when loaded weights overflow once brought to this data's scale.
std::vector<double> initial_weights(const RunState& state, std::uint32_t seed);

/// The network's outputs, in the scaled units it works in, for rows [first, first + count).
std::vector<double> scaled_predictions(Network& network, const RunState& state, std::size_t first,
                                       std::size_t count);

/// The loss train() reports, for rows [first, first + count) of the data and the same rows of
/// row-by-row `predicted` (which starts at row `first`): the mean over the rows of the squared
/// error summed over the outputs, in scaled units.
double mean_loss(const std::vector<double>& predicted, const RunState& state, std::size_t first,
                 std::size_t count);

/// The same as train() reports for row `r`, measured now; `output` is room for one output row.
double row_loss(Network& network, const RunState& state, std::size_t r,
                std::vector<double>& output);

bool all_finite(const std::vector<double>& values);

/// Makes and drops a network of the state's layers, so that the library's refusal comes before
/// the report starts.
void check_network(const RunState& state);

/// Weights that are finite numbers can still be too large for the data: refused with
/// InputError before any training, so that the failure is not laid at the learning rate's door.
void check_loaded_outputs(const RunState& state);

}  // namespace trainer

#endif
