#version 460
// The generated material unit under the shading library's own accessors:
// every material's five eval_* entry points, as the renderer calls them.
#include "scene_resources.glsl"

layout(std430, set = 0, binding = BINDING_OUTPUT) buffer OutBlock { float out_values[]; };
layout(local_size_x = 1) in;
layout(push_constant) uniform Push { mat4x3 object_to_world; } pc;

// Ray-tracing programs pass gl_ObjectToWorldEXT here.
#define VITREL_OBJECT_TO_WORLD pc.object_to_world
#include "textures.glsl"
#include "geometry.glsl"
#include "material.glsl"
#include "material_eval.glsl"

void main() {
    int mid = int(gl_GlobalInvocationID.x);
    vec2 uv = vec2(0.25, 0.75);
    vec3 a = eval_albedo(mid, uv, true, 0.5);
    float r = eval_roughness(mid, uv, true, 0.5);
    float m = eval_metallic(mid, uv, false, 0.5);
    vec3 n = eval_normal_map(mid, uv, true, 0.5, vec3(0, 0, 1), vec3(0, 0, 1), 0u, 0, vec2(0.3));
    vec3 e = eval_emission(mid, uv, true, 0.5);
    out_values[mid] = a.x + r + m + n.z + e.y;
}
