// The single-scattering directional albedo table of GGX lobes that the GPU
// programs use for multiple-scattering energy compensation. The table itself,
// scene/generated/ess_lut_table.cpp, is written by tools/gen_ess_lut; the
// layout is documented there and in the GPU header.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kEssLutDim = 32;
inline constexpr size_t kEssLutSize = kEssLutDim * kEssLutDim * kEssLutDim;

extern const uint16_t ess_lut_precomputed[kEssLutSize];
