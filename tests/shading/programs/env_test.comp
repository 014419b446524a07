#version 460
// Environment sampling for the host tests: one sample per thread, reported
// with the density and radiance that env_pdf and env_radiance give for the
// sampled direction.
#include "gpu_layout.h"

layout(std430, set = 0, binding = 0) readonly buffer AtlasData { uint atlas_words[]; };
layout(std430, set = 0, binding = 1) readonly buffer AtlasDir { AtlasEntry atlas_entries[]; };
layout(std430, set = 0, binding = 2) readonly buffer SrgbLut { float srgb_lut[]; };
layout(std430, set = 0, binding = 3) readonly buffer EnvBlock { GpuEnvHeader env_header; uint env_words[]; };
layout(std430, set = 0, binding = 4) buffer Out { float out_values[]; };

#include "textures.glsl"
#include "environment.glsl"

layout(local_size_x = 64) in;
layout(push_constant) uniform Push { uint count; uint seed; } pc;

void main() {
    uint t = gl_GlobalInvocationID.x;
    if (t >= pc.count) return;
    uint base = hash_combine(pc.seed, t);
    uvec2 xi = uvec2(hash_combine(base, 1u), hash_combine(base, 2u));
    vec2 jitter = vec2(u32_to_unit_float(hash_combine(base, 3u)), u32_to_unit_float(hash_combine(base, 4u)));
    EnvSample s = env_sample(xi, jitter);
    uint o = 12u * t;
    out_values[o] = s.direction.x;
    out_values[o + 1u] = s.direction.y;
    out_values[o + 2u] = s.direction.z;
    out_values[o + 3u] = s.pdf;
    out_values[o + 4u] = s.radiance.r;
    out_values[o + 5u] = s.radiance.g;
    out_values[o + 6u] = s.radiance.b;
    out_values[o + 7u] = s.valid ? 1.0 : 0.0;
    out_values[o + 8u] = env_pdf(s.direction);
    vec3 l = env_radiance(s.direction);
    out_values[o + 9u] = l.r;
    out_values[o + 10u] = l.g;
    out_values[o + 11u] = l.b;
}
