// Scene preparation: turns the host fields of a Scene into the derived tables
// the GPU programs read (light selection, packed materials, parameter block,
// texture atlas, environment sampling tables, sRGB table). Layouts of the
// GPU-facing records are in shaders/gpu_layout.h.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/vitrel_export.h"
#include "scene/scene.h"

// Rebuilds every derived table of `scene` except three caches: the
// environment tables (kept while the map's size is unchanged), the atlas
// (kept while `atlas_data` is non-empty) and `srgb_lut` (built once).
// `width` and `height` are the rendered image size including the overscan
// border; `overscan_scale` is rendered height / output height and widens the
// field of view accordingly. Prints one summary line to standard output.
// A width or height below 1, or an overscan scale that is not a positive
// finite number, is refused with std::invalid_argument before anything
// changes (sizes stored as given by the host arrive here unchecked). Beyond
// that nothing is reported as an error, but the atlas step may throw (see
// build_texture_atlas) and allocations may throw std::bad_alloc; the scene's
// derived tables are then partly rebuilt and the call should be repeated
// after the cause is removed. Callers serialise all access to `scene`.
// `graph_driven` marks the materials whose expression graphs may make them
// specular, for the guide targets (write_guide_targets).
VITREL_EXPORT void build_scene_buffer(Scene& scene, int width, int height, float overscan_scale,
                                      const std::vector<bool>& graph_driven = {});

// Entry offsets are 32-bit, and the GPU programs address texels as offset
// plus an in-texture index in 32-bit arithmetic, so every texel must lie
// below 4 GiB.
inline constexpr uint64_t kAtlasAddressLimit = uint64_t{1} << 32;

// Concatenates the texels of every texture into `atlas_data` (each start
// aligned to ATLAS_OFFSET_ALIGNMENT, zero padding between) and writes one
// `atlas_entries` record per texture. Entry offsets are 32 bits wide, so an
// atlas that would end beyond 4 GiB is refused as a whole: the call throws
// std::runtime_error before changing anything, and preparation fails rather
// than render with missing textures.
void build_texture_atlas(Scene& scene);

// Builds the environment sampling tables on one worker thread per hardware
// thread, unless the tables already belong to a map of the same size. Every
// readable texel weighs at least 1e-8 * sin(theta), a NaN texel included, so
// a black map stays enabled. A map with fewer than three channels uses its
// first channel for r, g and b, and a texel is readable when its own
// components (one, or three) lie inside the data array; texels beyond a
// short array weigh 0. A map without a single readable texel (or without
// channels) switches the environment off (`envmap_texture` = -1) and leaves
// the previous tables unchanged.
void build_envmap_cdf(Scene& scene);

// ---- Steps exposed for tests and benchmarks ----

// Fraction in [0, 1] to a CDF word: integer part of f * 4294967295 + 0.5.
// Values outside [0, 1] are clamped and NaN maps to 0, so a malformed
// weight can never make the conversion undefined.
uint32_t quantize_cdf(double fraction);

// Byte offsets of textures of the given byte sizes laid out back to back
// with 4-byte alignment, and the total size. Throws std::runtime_error when a
// texture would end beyond 4 GiB.
struct AtlasLayout {
    std::vector<uint32_t> offsets;
    uint64_t total_bytes = 0;
};
AtlasLayout plan_atlas_layout(const std::vector<uint64_t>& texture_bytes);

// World-space areas of the triangles of one mesh, with the scratch space
// their computation needs; reuse one record across meshes and calls to keep
// allocations out of the loop.
struct TriangleAreas {
    std::vector<float> areas;           // one per triangle, single precision
    std::vector<float> world_vertices;  // scratch: 4 floats per vertex
};

// Fills `out.areas` with the area of every triangle of `mesh` under
// `transform` (3x4, row-major): the three vertices are transformed, then
// area = 0.5 * |cross(p1 - p0, p2 - p0)|, all in single precision. Returns
// the sum of the areas, added in triangle order in double precision. A
// triangle that references a vertex beyond the vertex count has area 0, as
// in compute_face_normals, and so has one whose area comes out NaN or
// infinite: such triangles are never sampled as lights.
double compute_triangle_areas(const MeshData& mesh, const float* transform, TriangleAreas& out);

// build_envmap_cdf with the rows split over `workers` threads (at least 1).
// Conditional CDFs and row weights do not depend on `workers`; the total and
// the marginal CDF follow the partition only through summation order.
void build_envmap_cdf_with_workers(Scene& scene, unsigned workers);
