// The single-scattering directional albedo table of GGX lobes that the GPU
// programs use for multiple-scattering energy compensation. The table itself,
// scene/generated/ess_lut_table.cpp, is written by tools/gen_ess_lut; the
// layout is defined in shaders/gpu_layout.h (ESS_*).
#pragma once

#include <cstddef>
#include <cstdint>

#include "shaders/gpu_layout.h"

inline constexpr size_t kEssLutDim = ESS_DIM;
inline constexpr size_t kEssLutSize = ESS_ENTRIES;

extern const uint16_t ess_lut_precomputed[kEssLutSize];
