#version 460
// Shadow rays that reach their end unblocked: the light is visible.
#extension GL_EXT_ray_tracing : require
#include "payload.glsl"

layout(location = PAYLOAD_LOCATION) rayPayloadInEXT HitPayload payload;

void main() { payload.t = PAYLOAD_MISS; }
