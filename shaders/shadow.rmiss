#version 460
// Shadow-ray miss. Placeholder: does nothing yet.
#extension GL_EXT_ray_tracing : require
#ifdef HAS_NV_MOTION_BLUR
#extension GL_NV_ray_tracing_motion_blur : require
#endif

void main() {}
