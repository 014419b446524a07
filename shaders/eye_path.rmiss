#version 460
// Camera and bounce rays that leave the scene: the ray-generation program
// looks the environment up (with its rotation) or uses black.
#extension GL_EXT_ray_tracing : require
#include "payload.glsl"

layout(location = PAYLOAD_LOCATION) rayPayloadInEXT HitPayload payload;

void main() { payload.t = PAYLOAD_MISS; }
