#version 460
// Texture lookups for the host tests: one query (texture, u, v) per thread,
// answered with sample_texture_rgb and sample_texture_scalar.
#include "gpu_layout.h"

layout(std430, set = 0, binding = 0) readonly buffer AtlasData { uint atlas_words[]; };
layout(std430, set = 0, binding = 1) readonly buffer AtlasDir { AtlasEntry atlas_entries[]; };
layout(std430, set = 0, binding = 2) readonly buffer SrgbLut { float srgb_lut[]; };
layout(std430, set = 0, binding = 3) buffer Queries { float query[]; };

#include "textures.glsl"

layout(local_size_x = 64) in;
layout(push_constant) uniform Push { uint count; } pc;

void main() {
    uint t = gl_GlobalInvocationID.x;
    if (t >= pc.count) return;
    uint q = 4u * t;
    int tex = floatBitsToInt(query[q]);
    vec2 uv = vec2(query[q + 1u], query[q + 2u]);
    vec3 rgb = sample_texture_rgb(tex, uv);
    float s = sample_texture_scalar(tex, uv);
    query[q] = rgb.r;
    query[q + 1u] = rgb.g;
    query[q + 2u] = rgb.b;
    query[q + 3u] = s;
}
