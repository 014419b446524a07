// The per-pass timing table `vitrel render --timings` prints.
#pragma once

#include <string>

#include "api/vitrel_api.h"

// One GPU's measurements as a table: per pass that ran, the GPU time in
// total and per batch and its share of all GPU time; then the GPU total and
// the host time of the batches. A GPU that could not measure gets one line.
std::string timing_table(const VitrelPassTimings& t, const std::string& device);
