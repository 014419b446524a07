// How eye paths and light paths share the work of one image (the argument
// is in README.md, "Caustics: eye and light paths"): which vertices count as
// specular, and how the trace parameter switches light tracing on.
//
// A vertex is specular when every lobe its material can scatter into is
// sharper than SPECULAR_ROUGHNESS_MAX (GGX alpha below its square, on both
// anisotropy axes). The class depends on the material at the hit alone, so
// the eye and the light side, which both call vertex_is_specular, always
// agree on it.
#ifndef VITREL_PATH_PARTITION_GLSL
#define VITREL_PATH_PARTITION_GLSL

#include "gpu_layout.h"
#include "material.glsl"
#include "microfacet.glsl"

// Light tracing needs ray queries against the static scene; the motion-blur
// programs trace moving instances only through the ray-tracing pipeline, so
// there the eye paths keep every path.
#ifdef HAS_NV_MOTION_BLUR
#define LIGHT_TRACING_BUILT false
#else
#define LIGHT_TRACING_BUILT true
#endif

bool light_tracing_enabled(uint trace_param) {
    return LIGHT_TRACING_BUILT && (trace_param & TRACE_PARAM_LIGHT_TRACING) != 0u;
}

uint trace_bounce_limit(uint trace_param) { return trace_param & TRACE_PARAM_BOUNCE_MASK; }

bool lobe_is_sharp(float roughness, float anisotropy) {
    vec2 a = ggx_alphas(roughness, anisotropy);
    return max(a.x, a.y) < SPECULAR_ROUGHNESS_MAX * SPECULAR_ROUGHNESS_MAX;
}

bool vertex_is_specular(ShadingMaterial m) {
    float opaque_dielectric = (1.0 - m.metallic) * (1.0 - m.transmission);
    vec3 diffuse = opaque_dielectric * m.base_color;
    if (max(diffuse.x, max(diffuse.y, diffuse.z)) > 0.0) return false;
    if (m.sheen > 0.0 || m.subsurface > 0.0) return false;
    if (m.coat > 0.0 && !lobe_is_sharp(m.coat_roughness, 0.0)) return false;
    return lobe_is_sharp(m.roughness, m.anisotropy);
}

// Whether light paths connect to the camera at a non-specular vertex and
// pass it: not under a subsurface surface, whose light the eye paths
// gather by a random walk that neither a connection nor a light path's
// bounce reproduces. The eye paths keep every path with such a vertex
// between the camera and its last non-specular vertex.
bool vertex_connects_to_camera(ShadingMaterial m) { return !vertex_is_specular(m) && !(m.subsurface > 0.0); }

#endif
