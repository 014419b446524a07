#version 460
// Eye paths as a compute program: the ray-generation program's work
// (eye_path_launch.glsl) with ray queries in place of traceRayEXT, one
// invocation per tile pixel (x, y) and sample layer (z), or one layer deep
// with each invocation running all samples of its pixel. With ray queries
// images are the same bit for bit as the ray-tracing program's; with the
// BVH CPU devices build on the host (cpu_bvh_trace.glsl) they agree to
// rounding. CPU drivers run it faster:
// lavapipe keeps a ray-tracing pipeline's payload in scratch memory and
// calls its hit and miss programs as functions for every ray, where a ray
// query leaves the closest hit in registers (gpu/vk_renderer.h,
// computeEyePaths). No motion form: moving scenes on devices with motion
// blur take the ray-tracing program.
#extension GL_EXT_ray_tracing : require
#extension GL_EXT_ray_query : require
#extension GL_EXT_control_flow_attributes : require

#include "payload.glsl"
#include "path_resources.glsl"

layout(local_size_x = 8, local_size_y = 8, local_size_z = 1) in;

// The hit's instance transform, for the tangents of normal mapping.
mat3 path_object_linear = mat3(1.0);
#define VITREL_OBJECT_TO_WORLD path_object_linear

#include "textures.glsl"
#include "geometry.glsl"
#include "material.glsl"
#include "material_eval.glsl"
#include "ray_query_trace.glsl"
#include "path_loop.glsl"
#include "eye_path_launch.glsl"
#include "workgroup_spread.glsl"

void main() { run_eye_paths(spread_invocation_id(), gl_NumWorkGroups.z); }
