#version 460
// The five material entry points at one (material, uv, has-uv) point per
// thread. The test pastes a material unit (generated or generic) where the
// marker line stands, so both units run against identical accessors.
#include "gpu_layout.h"

layout(std430, set = 0, binding = 0) readonly buffer MaterialBlock { GpuMaterial materials[]; };
layout(std430, set = 0, binding = 1) readonly buffer AtlasData { uint atlas_words[]; };
layout(std430, set = 0, binding = 2) readonly buffer AtlasDir { AtlasEntry atlas_entries[]; };
layout(std430, set = 0, binding = 3) readonly buffer SrgbLut { float srgb_lut[]; };
layout(std430, set = 0, binding = 4) readonly buffer InstanceBlock { GpuInstance instance_info[]; };
layout(std430, set = 0, binding = 5) readonly buffer IndexBlock { uint mesh_indices[]; };
layout(std430, set = 0, binding = 6) readonly buffer TangentBlock { float vertex_tangents[]; };
layout(std430, set = 0, binding = 7) buffer OutBlock { float results[]; };

layout(local_size_x = 64) in;
layout(push_constant) uniform Push { uint materials; uint points; } pc;

#define VITREL_OBJECT_TO_WORLD mat3(1.0)
#include "textures.glsl"
#include "geometry.glsl"
#include "material.glsl"
// MATERIAL_UNIT

#define RESULT_FLOATS 11

void main() {
    uint i = gl_GlobalInvocationID.x;
    if (i >= pc.materials * pc.points) return;
    int mid = int(i / pc.points);
    uint j = i % pc.points;
    // Points spread over and beyond [0, 1)^2 (wrapping), every other one
    // without uvs, times through [0, 1].
    vec2 uv = vec2(float(j) * 0.37 - 1.1, float(j * j % 23u) * 0.13 - 0.4);
    bool have_uv = (j & 1u) == 0u;
    float time = float(j) / float(pc.points);
    vec3 ns = normalize(vec3(0.1, 0.2, 1.0));
    vec3 ng = vec3(0.0, 0.0, 1.0);
    vec3 a = eval_albedo(mid, uv, have_uv, time);
    float r = eval_roughness(mid, uv, have_uv, time);
    float m = eval_metallic(mid, uv, have_uv, time);
    vec3 n = eval_normal_map(mid, uv, have_uv, time, ns, ng, 0u, 0, vec2(0.25, 0.5));
    vec3 e = eval_emission(mid, uv, have_uv, time);
    float v[RESULT_FLOATS] = float[](a.x, a.y, a.z, r, m, n.x, n.y, n.z, e.x, e.y, e.z);
    for (int k = 0; k < RESULT_FLOATS; ++k) results[i * uint(RESULT_FLOATS) + uint(k)] = v[k];
}
