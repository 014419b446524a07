#version 460
// Light paths (light_loop.glsl): one per tile pixel and sample layer, the
// dispatch shape of the filter pass, when the trace parameter asks for
// light tracing. Splats go into the light accumulation with integer
// atomics, so the image does not depend on the order the paths finish in.
// Rays are ray queries against the scene's acceleration structure, with
// the same hit record and shading library as the eye paths. The
// motion-blur form contributes nothing (path_partition.glsl).
#extension GL_EXT_ray_tracing : require
#extension GL_EXT_ray_query : require
#extension GL_EXT_control_flow_attributes : require
#ifdef HAS_NV_MOTION_BLUR
#extension GL_NV_ray_tracing_motion_blur : require
#endif

#include "payload.glsl"
#include "path_resources.glsl"

layout(local_size_x = 8, local_size_y = 8, local_size_z = 1) in;

mat3 path_object_linear = mat3(1.0);
#define VITREL_OBJECT_TO_WORLD path_object_linear

#include "textures.glsl"
#include "geometry.glsl"
#include "material.glsl"
#include "material_eval.glsl"
#include "ray_query_trace.glsl"
#include "light_loop.glsl"

void main() {
    uvec3 id = gl_GlobalInvocationID;
    if (id.x >= pc.tile_width || id.y >= pc.tile_height || id.z >= pc.sample_count) return;
    if (!light_tracing_enabled(pc.trace_param) || pc.extra_param != TRACE_EXTRA_NORMAL) return;
    trace_light_path(uvec2(pc.origin_x, pc.origin_y) + id.xy, pc.first_sample + id.z, pc.trace_param);
}
