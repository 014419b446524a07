// Material unit for the precompiled programs, which cannot see a scene's
// materials: the entry points evaluate the packed material records only.
// Placeholder until the full generic unit lands: neutral values.
#ifndef MATERIAL_EVAL_GLSL
#define MATERIAL_EVAL_GLSL

vec3 eval_albedo(int mid, vec2 uv, bool have_uv, float time) { return vec3(1.0); }
float eval_roughness(int mid, vec2 uv, bool have_uv, float time) { return 0.5; }
float eval_metallic(int mid, vec2 uv, bool have_uv, float time) { return 0.0; }
vec3 eval_normal_map(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,
    uint instanceIdx, int primitiveId, vec2 barycentrics) { return Ns_f; }
vec3 eval_emission(int mid, vec2 uv, bool have_uv, float time) { return vec3(0.0); }

#endif
