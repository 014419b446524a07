// The renderer's framebuffers: per-sample scratch of one tile dispatch,
// the two accumulations and the render-resolution working image. Formats
// are described in gpu_layout.h.
#ifndef VITREL_FRAMEBUFFERS_GLSL
#define VITREL_FRAMEBUFFERS_GLSL

#include "gpu_layout.h"

layout(std430, set = 0, binding = BINDING_SAMPLES) buffer SampleBlock { vec4 tile_samples[]; };
layout(std430, set = 0, binding = BINDING_EYE_ACCUM) buffer EyeAccumBlock { vec4 eye_accum[]; };
layout(std430, set = 0, binding = BINDING_LIGHT_ACCUM) buffer LightAccumBlock { ivec4 light_accum[]; };
layout(std430, set = 0, binding = BINDING_WORK) buffer WorkBlock { vec4 work_image[]; };

// The sample layers [first, end) that ray-generation invocation `z` of a
// launch `depth` layers deep writes when a dispatch takes `count` samples:
// one each when the launch has a layer per sample, all of them when it is
// one layer deep (the renderer's sampleRegeneration).
uvec2 launch_sample_layers(uint z, uint depth, uint count) {
    uint per = depth == 0u ? count : (count + depth - 1u) / depth;
    uint first = min(z * per, count);
    return uvec2(first, min(first + per, count));
}

#endif
