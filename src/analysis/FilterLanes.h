// Up to twelve low-pass, high-pass or notch biquads over one block in vector lanes: four
// filters per 256-bit register of doubles, each lane running exactly the operations of
// tFilter::Process on its own samples, so every output is the float that filtering sample
// by sample gives. The serial recursions of all the filters then advance together, one
// register step per sample, instead of each taking its own latency.
#pragma once

#include <cstdint>

#include "analysis/Filters.h"

namespace vm {

constexpr int32_t kMaxLaneFilters = 12;

// The processor runs 256-bit vectors and fused multiply-adds; decided once at load.
bool FilterLanesAvailable();

// The contract of RunFilterChains for `count` filters (1 to kMaxLaneFilters), every one of
// a kind tBiquadRun handles: filter k reads source[k][i] and writes dest[k][i] for i below
// n; a filter that reads another's output has a larger lag[k] than that one. The lanes
// keep three iterations per unit of lag between a filter and its source, so that a chained
// filter never waits on the sample its source has just stored. Needs FilterLanesAvailable().
void RunFilterLanes(tFilter* const* filters, const float* const* source, float* const* dest,
                    const int32_t* lag, int32_t count, int32_t n);
// The same with a block length per filter (lengths[k] samples for filter k, 0 for none): a
// filter and its chain's source must have one length.
void RunFilterLanes(tFilter* const* filters, const float* const* source, float* const* dest,
                    const int32_t* lag, int32_t count, const int32_t* lengths);

// RunFilterLanes where the processor has them, for more than four filters whose longest
// block reaches 48 samples; otherwise the scalar chains: the same floats either way.
void RunFilterSet(tFilter* const* filters, const float* const* source, float* const* dest,
                  const int32_t* lag, int32_t count, int32_t n);
// With a length per filter, as RunFilterLanes; without the lanes, the links of one length
// that stand next to each other run as one set (a chain must not be split by another length).
void RunFilterSet(tFilter* const* filters, const float* const* source, float* const* dest,
                  const int32_t* lag, int32_t count, const int32_t* lengths);

}  // namespace vm
