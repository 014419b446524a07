#version 460
// read_tangent for the host tests: one query (instance, primitive, b1, b2)
// per thread, with the object-to-world matrix from the push block.
#include "gpu_layout.h"

layout(std430, set = 0, binding = 0) readonly buffer InstanceBlock { GpuInstance instance_info[]; };
layout(std430, set = 0, binding = 1) readonly buffer IndexBlock { uint mesh_indices[]; };
layout(std430, set = 0, binding = 2) readonly buffer TangentBlock { float vertex_tangents[]; };
layout(std430, set = 0, binding = 3) buffer Queries { float query[]; };

layout(local_size_x = 64) in;
layout(push_constant) uniform Push {
    mat4x3 object_to_world;  // columns: x, y, z axes and the translation
    uint count;
} pc;

#define VITREL_OBJECT_TO_WORLD pc.object_to_world
#include "geometry.glsl"

void main() {
    uint t = gl_GlobalInvocationID.x;
    if (t >= pc.count) return;
    uint q = 4u * t;
    vec3 tangent;
    bool ok = read_tangent(floatBitsToUint(query[q]), floatBitsToInt(query[q + 1u]),
                           vec2(query[q + 2u], query[q + 3u]), tangent);
    query[q] = ok ? 1.0 : 0.0;
    query[q + 1u] = tangent.x;
    query[q + 2u] = tangent.y;
    query[q + 3u] = tangent.z;
}
