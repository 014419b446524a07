#version 460
// Closest hit of every ray: records the hit for the ray-generation program,
// which shades it. Nothing else runs here, so the hit group stays cheap.
#extension GL_EXT_ray_tracing : require
#include "payload.glsl"

layout(location = PAYLOAD_LOCATION) rayPayloadInEXT HitPayload payload;
hitAttributeEXT vec2 hit_barycentrics;

void main() {
    // Instances merged into one BLAS are its geometries, listed from the
    // custom index on.
    payload.instance = uint(gl_InstanceCustomIndexEXT) + uint(gl_GeometryIndexEXT);
    payload.primitive = gl_PrimitiveID;
    payload.barycentrics = hit_barycentrics;
    payload.t = gl_HitTEXT;
    payload.front_face = gl_HitKindEXT == gl_HitKindFrontFacingTriangleEXT ? 1u : 0u;
    payload.object_x = gl_ObjectToWorldEXT[0];
    payload.object_y = gl_ObjectToWorldEXT[1];
    payload.object_z = gl_ObjectToWorldEXT[2];
}
