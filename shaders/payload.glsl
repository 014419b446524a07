// The one ray payload of every trace: camera, bounce and shadow rays all
// carry it, so the closest-hit and both miss programs agree on its layout.
// The closest-hit program only records which triangle was hit and where;
// the ray-generation program does all shading from that record.
#ifndef VITREL_PAYLOAD_GLSL
#define VITREL_PAYLOAD_GLSL

struct HitPayload {
    uint instance;     // instance custom index (the scene's instance id)
    int primitive;     // triangle within the instance's mesh
    vec2 barycentrics; // weights of corners 1 and 2
    float t;           // hit distance along the ray; PAYLOAD_MISS when nothing was hit
    uint front_face;   // 1 when the ray met the triangle's front side (Vulkan's facing)
    // Linear part of the instance's object-to-world transform (at the
    // ray's time): ray generation has no gl_ObjectToWorldEXT of its own
    // and needs it for normals and tangents.
    vec3 object_x;
    vec3 object_y;
    vec3 object_z;
};

#define PAYLOAD_MISS -1.0
#define PAYLOAD_LOCATION 0

// Tracing a ray whose origin or direction holds a NaN or an infinity, or
// whose extent is NaN or negative, is undefined in Vulkan. A degenerate
// camera or material can make one; it is reported as a miss without
// tracing, and the radiance it would carry is not finite either, so the
// sample is dropped where non-finite samples are.
bool ray_is_traceable(vec3 origin, vec3 direction, float tmax) {
    return !any(isnan(origin)) && !any(isinf(origin)) && !any(isnan(direction)) &&
           !any(isinf(direction)) && !isnan(tmax) && tmax >= 0.0;
}

// Miss programs: index 0 for camera and bounce rays, 1 for shadow rays.
#define MISS_INDEX_EYE 0
#define MISS_INDEX_SHADOW 1

#ifdef HAS_NV_MOTION_BLUR
#extension GL_NV_ray_tracing_motion_blur : require
#endif

#endif
