// trace_payload for compute programs: the same closest-hit record the
// ray-tracing pipeline's hit program writes, filled from a ray query. Every
// ray of the path library is opaque, so the query commits its closest
// triangle without candidate processing. Define before including
// path_loop.glsl; the including program declares `tlas`.
#ifndef VITREL_RAY_QUERY_TRACE_GLSL
#define VITREL_RAY_QUERY_TRACE_GLSL
#define VITREL_TRACE_PAYLOAD_DEFINED

#include "payload.glsl"

HitPayload payload;

#include "cpu_bvh_trace.glsl"

// Rays traced by the current path (for TRACE_EXTRA_RAY_COUNT).
uint path_rays = 0u;

void trace_payload(vec3 origin, vec3 direction, float tmax, uint flags, uint miss, float time01) {
    if (!ray_is_traceable(origin, direction, tmax)) {
        payload.t = PAYLOAD_MISS;
        return;
    }
    ++path_rays;
    if (cpu_bvh_present()) {
        cpu_bvh_trace(origin, direction, tmax, (flags & gl_RayFlagsTerminateOnFirstHitEXT) != 0u);
        return;
    }
    rayQueryEXT query;
    rayQueryInitializeEXT(query, tlas, flags, 0xFF, origin, 0.0, direction, tmax);
    while (rayQueryProceedEXT(query)) {
    }
    if (rayQueryGetIntersectionTypeEXT(query, true) != gl_RayQueryCommittedIntersectionTriangleEXT) {
        payload.t = PAYLOAD_MISS;
        return;
    }
    payload.instance = uint(rayQueryGetIntersectionInstanceCustomIndexEXT(query, true)) +
                       uint(rayQueryGetIntersectionGeometryIndexEXT(query, true));
    payload.primitive = rayQueryGetIntersectionPrimitiveIndexEXT(query, true);
    payload.barycentrics = rayQueryGetIntersectionBarycentricsEXT(query, true);
    payload.t = rayQueryGetIntersectionTEXT(query, true);
    payload.front_face = rayQueryGetIntersectionFrontFaceEXT(query, true) ? 1u : 0u;
    mat4x3 object_to_world = rayQueryGetIntersectionObjectToWorldEXT(query, true);
    payload.object_x = object_to_world[0];
    payload.object_y = object_to_world[1];
    payload.object_z = object_to_world[2];
}

#endif
