#version 460
// Test-only program: one ray query per invocation against the renderer's
// TLAS. Bindings 1 and 2 belong to this probe's own set layout.
#extension GL_EXT_ray_query : require
#extension GL_GOOGLE_include_directive : require
#include "gpu_layout.h"

layout(local_size_x = 1) in;

layout(set = 0, binding = BINDING_TLAS) uniform accelerationStructureEXT tlas;

// Ray i: origin = rays[2i].xyz, direction = rays[2i + 1].xyz.
layout(std430, set = 0, binding = 1) readonly buffer Rays { vec4 rays[]; };

struct ProbeHit {
    int instance;  // -1 on a miss
    int primitive;
    float u;
    float v;
    float t;
    int pad0;
    int pad1;
    int pad2;
};
layout(std430, set = 0, binding = 2) writeonly buffer Hits { ProbeHit hits[]; };

void main() {
    const uint i = gl_GlobalInvocationID.x;
    rayQueryEXT query;
    rayQueryInitializeEXT(query, tlas, gl_RayFlagsOpaqueEXT, 0xFF, rays[2 * i].xyz, 0.0,
                          rays[2 * i + 1].xyz, 1000.0);
    while (rayQueryProceedEXT(query)) {
    }
    ProbeHit hit;
    hit.instance = -1;
    hit.primitive = -1;
    hit.u = 0.0;
    hit.v = 0.0;
    hit.t = 0.0;
    hit.pad0 = 0;
    hit.pad1 = 0;
    hit.pad2 = 0;
    if (rayQueryGetIntersectionTypeEXT(query, true) ==
        gl_RayQueryCommittedIntersectionTriangleEXT) {
        hit.instance = rayQueryGetIntersectionInstanceCustomIndexEXT(query, true) +
                       rayQueryGetIntersectionGeometryIndexEXT(query, true);
        hit.primitive = rayQueryGetIntersectionPrimitiveIndexEXT(query, true);
        const vec2 bary = rayQueryGetIntersectionBarycentricsEXT(query, true);
        hit.u = bary.x;
        hit.v = bary.y;
        hit.t = rayQueryGetIntersectionTEXT(query, true);
    }
    hits[i] = hit;
}
