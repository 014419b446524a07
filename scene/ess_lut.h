// The single-scattering directional albedo table of GGX lobes that the GPU
// programs use for multiple-scattering energy compensation, and the tables
// the renderer appends to it in the binding-4 buffer (inside slices of the
// dielectric, averages, specular-layer and sheen albedos). The tables
// themselves, scene/generated/ess_lut_table.cpp and
// scene/generated/shading_tables.cpp, are written by tools/gen_ess_lut and
// tools/gen_shading_tables; the layout is defined in shaders/gpu_layout.h
// (ESS_*, SPECULAR_*, SHEEN_*).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "shaders/gpu_layout.h"

inline constexpr size_t kEssLutDim = ESS_DIM;
inline constexpr size_t kEssLutSize = ESS_ENTRIES;

extern const uint16_t ess_lut_precomputed[kEssLutSize];

inline constexpr size_t kShadingTablesSize = SHADING_TABLES_ENTRIES;
extern const uint16_t shading_tables_precomputed[kShadingTablesSize];

// The whole binding-4 buffer: `ess` (the host's ESS table, cut or padded with
// zeros to ESS_ENTRIES so the appended tables sit at their fixed offsets)
// followed by the compiled-in appended tables. Empty for an empty `ess`.
std::vector<uint16_t> binding4_table(const std::vector<uint16_t>& ess);
