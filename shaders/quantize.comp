#version 460
// Packs the output image into RGBA8 (byte order r, g, b, a; alpha 255).
// Each channel is scaled to 0-255 and rounded with a per-pixel offset from
// interleaved gradient noise, a cheap blue-noise-like pattern: smooth
// gradients dither instead of banding, and the pattern depends only on the
// pixel, so equal images quantise to equal bytes.
#extension GL_GOOGLE_include_directive : require

#include "gpu_layout.h"
#include "push_block.glsl"

layout(std430, set = 0, binding = BINDING_OUTPUT) readonly buffer OutputBlock { vec4 output_image[]; };
layout(std430, set = 0, binding = BINDING_OUTPUT_RGBA8) writeonly buffer Rgba8Block { uint rgba8[]; };

layout(local_size_x = 64) in;

#define BYTE_MAX 255.0
#define OPAQUE_ALPHA 255u
// Keeps the offset strictly inside (0, 1) so values that are exact byte
// levels never round to a neighbour through float error.
#define DITHER_MARGIN (1.0 / 512.0)

// Jimenez's interleaved gradient noise in [0, 1).
float gradient_noise(uvec2 p) {
    return fract(52.9829189 * fract(dot(vec2(p), vec2(0.06711056, 0.00583715))));
}

void main() {
    const uint index = gl_GlobalInvocationID.x;
    if (index >= pc.width * pc.height) return;
    const uvec2 p = uvec2(index % pc.width, index / pc.width);
    const float offset = mix(DITHER_MARGIN, 1.0 - DITHER_MARGIN, gradient_noise(p));
    const vec3 c = clamp(output_image[index].rgb, 0.0, 1.0);
    const uvec3 b = uvec3(clamp(floor(c * BYTE_MAX + offset), 0.0, BYTE_MAX));
    rgba8[index] = b.r | (b.g << 8) | (b.b << 16) | (OPAQUE_ALPHA << 24);
}
