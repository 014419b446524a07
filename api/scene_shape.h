// What the GPU buffers of a prepared context were sized for. The host may
// keep assembling after vitrel_prepare; the calls that push scene changes
// into prepared renderers without a preparation (camera update, TLAS
// rebuild, motion batches) compare the scene with this record first, so a
// grown array is never written past a buffer sized at preparation nor read
// past one by the GPU programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Scene;

struct SceneShape {
    size_t materials = 0;
    size_t meshes = 0;
    size_t textures = 0;
    int32_t envmap_texture = -1;
    size_t env_conditional_cdf = 0;
    size_t env_marginal_cdf = 0;
    // Light tables, re-created by the calls that re-upload lights.
    size_t emissive_instances = 0;
    size_t emissive_tri_cdf = 0;
    size_t light_cdf = 0;
};

SceneShape capture_shape(const Scene& scene);

// Updates the light fields after the light buffers were re-created.
void record_light_upload(SceneShape& uploaded, const Scene& scene);

// Arrays that only a preparation re-creates: materials, meshes, textures
// and the environment tables. Returns "" when they match `prepared`, else a
// sentence naming the first difference and ending in "prepare again".
std::string check_fixed_tables(const SceneShape& prepared, const Scene& scene);

// The light tables, for calls that upload scene parameters but not lights.
std::string check_light_tables(const SceneShape& prepared, const Scene& scene);
