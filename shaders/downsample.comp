#version 460
// Output image from the working image: box average over the quality x
// quality render pixels of each output pixel, with the overscan border cut
// away. Words 0-1 are the output size, 2-3 the render size.
#extension GL_GOOGLE_include_directive : require

#include "gpu_layout.h"
#include "push_block.glsl"
#include "framebuffers.glsl"

layout(std430, set = 0, binding = BINDING_OUTPUT) writeonly buffer OutputBlock { vec4 output_image[]; };

layout(local_size_x = 64) in;

void main() {
    const uint index = gl_GlobalInvocationID.x;
    if (index >= pc.width * pc.height) return;
    const uint q = max(pc.quality, 1u);
    const uint ox = index % pc.width;
    const uint oy = index / pc.width;
    const uint x0 = (ox + pc.overscan) * q;
    const uint y0 = (oy + pc.overscan) * q;
    vec4 sum = vec4(0.0);
    for (uint j = 0u; j < q; ++j)
        for (uint i = 0u; i < q; ++i) sum += work_image[(y0 + j) * pc.origin_x + x0 + i];
    output_image[index] = vec4(sum.rgb / float(q * q), 1.0);
}
