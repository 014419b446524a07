// Per-vertex attributes of the hit triangle from the shared geometry
// buffers, for the tangent frame of normal mapping.
//
// The including program declares `GpuInstance instance_info[]`,
// `uint mesh_indices[]` (mesh-relative vertex indices, three per triangle)
// and `float vertex_tangents[]` (three per vertex). To get read_tangent,
// the function "material_eval.glsl" requires, it defines
// VITREL_OBJECT_TO_WORLD as the hit's object-to-world matrix (a mat4x3 such
// as gl_ObjectToWorldEXT) before including this file.
#ifndef VITREL_GEOMETRY_GLSL
#define VITREL_GEOMETRY_GLSL

#include "bound_length.glsl"

// Below this length an interpolated tangent has no direction.
#define MIN_TANGENT_LENGTH 1e-8

// The object-space tangent at barycentrics (b1, b2) of triangle
// `primitiveId` of instance `instanceIdx`; false when the mesh has no
// tangents, the ids or indices lie outside the tables, or the tangent
// vanishes.
bool read_object_tangent(uint instanceIdx, int primitiveId, vec2 barycentrics, out vec3 tangent) {
    tangent = vec3(0.0);
    if (instanceIdx >= uint(BOUND_LENGTH(instance_info)) || primitiveId < 0) return false;
    GpuInstance inst = instance_info[instanceIdx];
    if (inst.tangent_offset == NO_ATTRIBUTE) return false;
    uint first = inst.index_offset + 3u * uint(primitiveId);
    if (first < inst.index_offset || first + 2u >= uint(BOUND_LENGTH(mesh_indices))) return false;
    uint vertex_count = uint(BOUND_LENGTH(vertex_tangents)) / 3u;
    vec3 corner[3];
    for (int k = 0; k < 3; ++k) {
        uint v = inst.tangent_offset + mesh_indices[first + uint(k)];
        if (v < inst.tangent_offset || v >= vertex_count) return false;
        corner[k] = vec3(vertex_tangents[3u * v], vertex_tangents[3u * v + 1u], vertex_tangents[3u * v + 2u]);
    }
    vec3 t = corner[0] * (1.0 - barycentrics.x - barycentrics.y) + corner[1] * barycentrics.x +
             corner[2] * barycentrics.y;
    if (!(length(t) > MIN_TANGENT_LENGTH)) return false;
    tangent = t;
    return true;
}

#ifdef VITREL_OBJECT_TO_WORLD
// World-space unit tangent of the hit (tangents transform like edges, by
// the linear part of the instance transform).
bool read_tangent(uint instanceIdx, int primitiveId, vec2 barycentrics, out vec3 tangent) {
    vec3 t;
    tangent = vec3(0.0);
    if (!read_object_tangent(instanceIdx, primitiveId, barycentrics, t)) return false;
    vec3 w = mat3(VITREL_OBJECT_TO_WORLD) * t;
    if (!(length(w) > MIN_TANGENT_LENGTH)) return false;
    tangent = normalize(w);
    return true;
}
#endif

#endif
