#version 460
// Light-path pass, one invocation per tile pixel and sample. Placeholder:
// adds nothing to the light accumulation yet.
#extension GL_GOOGLE_include_directive : require
#ifdef HAS_NV_MOTION_BLUR
#extension GL_EXT_ray_query : require
#extension GL_NV_ray_tracing_motion_blur : require
#endif

#include "gpu_layout.h"
#include "push_block.glsl"
#include "material_eval.glsl"

layout(local_size_x = 8, local_size_y = 8, local_size_z = 1) in;

void main() {}
