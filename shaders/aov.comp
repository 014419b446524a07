#version 460
// Auxiliary passes: one ray through the centre of every output pixel, from
// the packed pinhole camera (no lens, shutter open). The camera plane spans
// the padded render image, so the output pixel sits `overscan` pixels in
// from its edges. Row 0 is the top of the image. Writes planar depth, the
// world-space shading normal turned towards the camera, and the instance
// id; misses write the values named in gpu_layout.h.
#extension GL_EXT_ray_query : require
#extension GL_GOOGLE_include_directive : require

#include "gpu_layout.h"
#include "payload.glsl"
#include "push_block.glsl"
#include "scene_resources.glsl"

layout(set = 0, binding = BINDING_TLAS) uniform accelerationStructureEXT tlas;
layout(std430, set = 0, binding = BINDING_FACE_NORMALS) readonly buffer FaceNormalBlock { float face_normals[]; };
layout(std430, set = 0, binding = BINDING_NORMALS) readonly buffer NormalBlock { float vertex_normals[]; };
layout(std430, set = 0, binding = BINDING_AOV_DEPTH) writeonly buffer DepthBlock { float aov_depth[]; };
layout(std430, set = 0, binding = BINDING_AOV_NORMAL) writeonly buffer NormalPassBlock { float aov_normal[]; };
layout(std430, set = 0, binding = BINDING_AOV_OBJECT_ID) writeonly buffer IdBlock { int aov_object_id[]; };

layout(local_size_x = 64) in;

#define RAY_T_MIN 0.0
#define RAY_T_MAX 1e30
#define MIN_NORMAL_LENGTH 1e-12

vec3 param3(int at) { return vec3(scene_params[at], scene_params[at + 1], scene_params[at + 2]); }

vec3 read3(uint at, bool vertex) {
    return vertex ? vec3(vertex_normals[at], vertex_normals[at + 1u], vertex_normals[at + 2u])
                  : vec3(face_normals[at], face_normals[at + 1u], face_normals[at + 2u]);
}

// Object-space normal of the hit: the interpolated vertex normal when the
// mesh has one, else the face normal.
vec3 object_normal(uint instance, int primitive, vec2 bary) {
    if (instance >= uint(BOUND_LENGTH(instance_info)) || primitive < 0) return vec3(0.0);
    const GpuInstance inst = instance_info[instance];
    const uint first = inst.index_offset + 3u * uint(primitive);
    if (inst.normal_offset != NO_ATTRIBUTE && first + 2u < uint(BOUND_LENGTH(mesh_indices))) {
        const uint count = uint(vertex_normals.length()) / 3u;
        const uint a = inst.normal_offset + mesh_indices[first];
        const uint b = inst.normal_offset + mesh_indices[first + 1u];
        const uint c = inst.normal_offset + mesh_indices[first + 2u];
        if (a < count && b < count && c < count) {
            const vec3 n = read3(3u * a, true) * (1.0 - bary.x - bary.y) +
                           read3(3u * b, true) * bary.x + read3(3u * c, true) * bary.y;
            if (length(n) > MIN_NORMAL_LENGTH) return n;
        }
    }
    const uint face = inst.face_offset + uint(primitive);
    if (3u * face + 2u < uint(face_normals.length())) return read3(3u * face, false);
    return vec3(0.0);
}

void main() {
    const uint index = gl_GlobalInvocationID.x;
    if (index >= pc.width * pc.height) return;
    const uint px = index % pc.width;
    const uint py = index / pc.width;
    const vec2 padded = vec2(pc.width + 2u * pc.overscan, pc.height + 2u * pc.overscan);
    const float u = (float(px + pc.overscan) + 0.5) / padded.x;
    const float v = 1.0 - (float(py + pc.overscan) + 0.5) / padded.y;

    const vec3 origin = param3(SP_CAMERA_POSITION);
    const vec3 lowerLeft = param3(SP_LOWER_LEFT);
    const vec3 horizontal = param3(SP_HORIZONTAL);
    const vec3 vertical = param3(SP_VERTICAL);
    const vec3 dir = lowerLeft + u * horizontal + v * vertical - origin;
    const vec3 forward = normalize(lowerLeft + 0.5 * horizontal + 0.5 * vertical - origin);

    float depth = float(AOV_MISS_DEPTH);
    vec3 normal = vec3(0.0);
    int id = AOV_MISS_OBJECT_ID;
    // A camera that is not finite sees nothing (see ray_is_traceable).
    rayQueryEXT query;
    const bool traced = ray_is_traceable(origin, dir, RAY_T_MAX);
    if (traced) {
        rayQueryInitializeEXT(query, tlas, gl_RayFlagsOpaqueEXT, 0xFF, origin, RAY_T_MIN, dir, RAY_T_MAX);
        while (rayQueryProceedEXT(query)) {
        }
    }
    if (traced && rayQueryGetIntersectionTypeEXT(query, true) == gl_RayQueryCommittedIntersectionTriangleEXT) {
        const float t = rayQueryGetIntersectionTEXT(query, true);
        depth = t * dot(dir, forward);
        id = rayQueryGetIntersectionInstanceCustomIndexEXT(query, true) +
             rayQueryGetIntersectionGeometryIndexEXT(query, true);
        const vec3 n = object_normal(uint(id), rayQueryGetIntersectionPrimitiveIndexEXT(query, true),
                                     rayQueryGetIntersectionBarycentricsEXT(query, true));
        const mat4x3 worldToObject = rayQueryGetIntersectionWorldToObjectEXT(query, true);
        const vec3 w = n * mat3(worldToObject);
        if (length(w) > MIN_NORMAL_LENGTH) {
            normal = normalize(w);
            if (dot(normal, dir) > 0.0) normal = -normal;
        }
    }
    aov_depth[index] = depth;
    aov_normal[3u * index] = normal.x;
    aov_normal[3u * index + 1u] = normal.y;
    aov_normal[3u * index + 2u] = normal.z;
    aov_object_id[index] = id;
}
