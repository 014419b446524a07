#version 460
// Moves one tile's samples from the scratch buffer into the eye
// accumulation. Each pixel is owned by the invocation of layer 0, which adds
// the dispatch's samples one at a time in sample order: the result does not
// depend on scheduling, and a batch split into several dispatches adds
// exactly the same floats in the same order as one dispatch would. Samples
// marked dropped (a == 0) only count in the light accumulation's a.
// The same code serves devices with and without float atomics.
#extension GL_GOOGLE_include_directive : require

#include "gpu_layout.h"
#include "push_block.glsl"
#include "framebuffers.glsl"

layout(local_size_x = 8, local_size_y = 8, local_size_z = 1) in;

void main() {
    const uvec3 id = gl_GlobalInvocationID;
    if (id.z != 0u || id.x >= pc.tile_width || id.y >= pc.tile_height) return;
    const uint pixel = (pc.origin_y + id.y) * pc.width + pc.origin_x + id.x;
    vec4 accum = eye_accum[pixel];
    int dropped = 0;
    for (uint z = 0u; z < pc.sample_count; ++z) {
        const vec4 s = tile_samples[SAMPLE_SLOT(id.x, id.y, z, pc.tile_width, pc.tile_height)];
        if (s.a == 0.0) {
            ++dropped;
        } else {
            accum.rgb += s.rgb;
            accum.a += 1.0;
        }
    }
    eye_accum[pixel] = accum;
    if (dropped != 0) light_accum[pixel].a += dropped;
}
