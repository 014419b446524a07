// The surface at a ray hit, rebuilt from the payload and the geometry
// buffers: world position, geometric normal (from the winding: the front
// side is the one cross(p1 - p0, p2 - p0) points to), interpolated shading
// normal, texture coordinate and material. Every index read from host data
// is checked; a hit whose triangle cannot be read becomes a surface of the
// neutral material with the geometric normal facing the ray.
#ifndef VITREL_SURFACE_GLSL
#define VITREL_SURFACE_GLSL

#include "bound_length.glsl"

struct Surface {
    vec3 position;
    vec3 geometric_normal;  // unit, front side
    vec3 shading_normal;    // unit, interpolated (front side when absent)
    vec2 uv;
    bool has_uv;
    int material;
    uint instance;
    int primitive;
    vec2 barycentrics;
};

// Mesh-relative corner indices of triangle `primitive` of instance `inst`,
// already offset into the shared vertex arrays; false when out of range.
bool triangle_vertices(GpuInstance inst, int primitive, out uvec3 v) {
    v = uvec3(0u);
    if (primitive < 0) return false;
    uint first = inst.index_offset + 3u * uint(primitive);
    if (first < inst.index_offset || first + 2u >= uint(BOUND_LENGTH(mesh_indices))) return false;
    v = uvec3(mesh_indices[first], mesh_indices[first + 1u], mesh_indices[first + 2u]);
    return true;
}

vec3 vertex_position(uint v) {
    return vec3(vertex_positions[3u * v], vertex_positions[3u * v + 1u], vertex_positions[3u * v + 2u]);
}

// Object-space corners; false when a corner lies outside the position array.
bool triangle_positions(GpuInstance inst, uvec3 local, out vec3 p0, out vec3 p1, out vec3 p2) {
    uint count = uint(BOUND_LENGTH(vertex_positions)) / 3u;
    uvec3 v = local + uvec3(inst.vertex_offset);
    p0 = vec3(0.0);
    p1 = vec3(0.0);
    p2 = vec3(0.0);
    if (any(greaterThanEqual(v, uvec3(count))) || any(lessThan(v, local))) return false;
    p0 = vertex_position(v.x);
    p1 = vertex_position(v.y);
    p2 = vertex_position(v.z);
    return true;
}

// The material of a triangle: its face material when the instance has
// them, else the instance's; -1 (the neutral material) when the id does
// not name a packed material.
int triangle_material(GpuInstance inst, int primitive) {
    int mid = inst.material;
    if (inst.face_material_start >= 0 && primitive >= 0) {
        uint at = uint(inst.face_material_start) + uint(primitive);
        if (at >= uint(inst.face_material_start) && at < uint(BOUND_LENGTH(face_materials))) mid = face_materials[at];
    }
    int count = min(BOUND_LENGTH(materials), int(scene_params[SP_MATERIAL_COUNT]));
    return (mid >= 0 && mid < count) ? mid : -1;
}

// Texture coordinate at barycentrics b (weights of corners 1 and 2).
bool triangle_uv(GpuInstance inst, uvec3 local, vec2 b, out vec2 uv) {
    uv = vec2(0.0);
    if (inst.uv_offset == NO_ATTRIBUTE) return false;
    uvec3 v = local + uvec3(inst.uv_offset);
    uint count = uint(BOUND_LENGTH(vertex_uvs)) / 2u;
    if (any(greaterThanEqual(v, uvec3(count))) || any(lessThan(v, local))) return false;
    vec2 t0 = vec2(vertex_uvs[2u * v.x], vertex_uvs[2u * v.x + 1u]);
    vec2 t1 = vec2(vertex_uvs[2u * v.y], vertex_uvs[2u * v.y + 1u]);
    vec2 t2 = vec2(vertex_uvs[2u * v.z], vertex_uvs[2u * v.z + 1u]);
    uv = t0 * (1.0 - b.x - b.y) + t1 * b.x + t2 * b.y;
    return true;
}

// Object-space interpolated vertex normal, or false.
bool triangle_normal(GpuInstance inst, uvec3 local, vec2 b, out vec3 n) {
    n = vec3(0.0);
    if (inst.normal_offset == NO_ATTRIBUTE) return false;
    uvec3 v = local + uvec3(inst.normal_offset);
    uint count = uint(BOUND_LENGTH(vertex_normals)) / 3u;
    if (any(greaterThanEqual(v, uvec3(count))) || any(lessThan(v, local))) return false;
    vec3 n0 = vec3(vertex_normals[3u * v.x], vertex_normals[3u * v.x + 1u], vertex_normals[3u * v.x + 2u]);
    vec3 n1 = vec3(vertex_normals[3u * v.y], vertex_normals[3u * v.y + 1u], vertex_normals[3u * v.y + 2u]);
    vec3 n2 = vec3(vertex_normals[3u * v.z], vertex_normals[3u * v.z + 1u], vertex_normals[3u * v.z + 2u]);
    n = n0 * (1.0 - b.x - b.y) + n1 * b.x + n2 * b.y;
    return dot(n, n) > 0.0;
}

// Object-to-world of a 3x4 row-major transform.
vec3 transform_point(float m[12], vec3 p) {
    return vec3(m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3], m[4] * p.x + m[5] * p.y + m[6] * p.z + m[7],
                m[8] * p.x + m[9] * p.y + m[10] * p.z + m[11]);
}

mat3 payload_linear(HitPayload hit) { return mat3(hit.object_x, hit.object_y, hit.object_z); }

// The hit position comes from the ray, the normals from the triangle and
// the instance transform the closest-hit program recorded.
Surface surface_at(HitPayload hit, vec3 ray_origin, vec3 ray_dir) {
    Surface s;
    s.position = ray_origin + hit.t * ray_dir;
    // Unreadable triangles: a surface facing the ray (or turned away when
    // the hardware saw its back).
    s.geometric_normal = hit.front_face != 0u ? -ray_dir : ray_dir;
    s.shading_normal = s.geometric_normal;
    s.uv = vec2(0.0);
    s.has_uv = false;
    s.material = -1;
    s.instance = hit.instance;
    s.primitive = hit.primitive;
    s.barycentrics = hit.barycentrics;
    if (hit.instance >= uint(BOUND_LENGTH(instance_info))) return s;
    GpuInstance inst = instance_info[hit.instance];
    s.material = triangle_material(inst, hit.primitive);
    uvec3 local;
    vec3 p0, p1, p2;
    if (!triangle_vertices(inst, hit.primitive, local) || !triangle_positions(inst, local, p0, p1, p2)) return s;
    mat3 linear = payload_linear(hit);
    // cross(M a, M b) = cof(M) cross(a, b): the cofactor matrix carries the
    // winding normal into world space (mirroring instances flip the winding
    // with it), and is the normal transform up to a positive factor.
    mat3 cof = mat3(cross(linear[1], linear[2]), cross(linear[2], linear[0]), cross(linear[0], linear[1]));
    vec3 ng = cof * cross(p1 - p0, p2 - p0);
    if (dot(ng, ng) > 0.0 && !any(isnan(ng)) && !any(isinf(ng))) s.geometric_normal = normalize(ng);
    s.shading_normal = s.geometric_normal;
    vec3 n;
    if (triangle_normal(inst, local, hit.barycentrics, n)) {
        vec3 w = cof * n;
        if (dot(w, w) > 0.0 && !any(isnan(w))) s.shading_normal = normalize(w);
    }
    s.has_uv = triangle_uv(inst, local, hit.barycentrics, s.uv);
    return s;
}

#endif
