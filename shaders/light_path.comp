#version 460
// Light paths (light tracing into the light accumulation). Not active yet:
// the pass is dispatched per tile with one z layer per sample like the
// filter pass, is compiled with the material unit like the eye paths, and
// contributes nothing. Turning light tracing on only needs a body here;
// the bindings, macros and dispatch shape already match.
#extension GL_EXT_ray_tracing : require
#extension GL_EXT_ray_query : require
#extension GL_EXT_control_flow_attributes : require
#ifdef HAS_NV_MOTION_BLUR
#extension GL_NV_ray_tracing_motion_blur : require
#endif

#include "path_resources.glsl"

layout(local_size_x = 8, local_size_y = 8, local_size_z = 1) in;

mat3 path_object_linear = mat3(1.0);
#define VITREL_OBJECT_TO_WORLD path_object_linear

#include "textures.glsl"
#include "geometry.glsl"
#include "material.glsl"
#include "material_eval.glsl"

void main() {}
