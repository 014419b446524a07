// Generic material evaluation for precompiled programs: the same five entry
// points as the unit the material compiler generates, but reading every
// material's words and texture ids at run time. For every material it
// returns exactly what the compiler's default graphs return (the same
// accessors, lookups and arithmetic in the same order):
//   albedo     base_color, or the albedo texture where the hit has uvs
//   roughness  roughness, or the roughness texture's first channel (uvs)
//   metallic   metallic, or the metallic texture's first channel (uvs)
//   normal     the shading normal, or the tangent-space normal map (uvs
//              and tangents), kept only above the geometric surface
//   emission   emission, times the emission texture where the hit has uvs
// Host expression graphs are not seen here; scenes that use them need the
// generated unit (run-time compilation). The including program provides
// sample_texture_rgb, sample_texture_scalar, read_tangent and the gmat_*
// accessors, as for the generated unit.
#ifndef MATERIAL_EVAL_GLSL
#define MATERIAL_EVAL_GLSL

vec3 eval_albedo(int mid, vec2 uv, bool have_uv, float time) {
    vec3 base = gmat_base_color(mid);
    int tex = gmat_albedo_tex(mid);
    if (tex < 0) return base;
    return have_uv ? sample_texture_rgb(tex, uv) : base;
}

float eval_roughness(int mid, vec2 uv, bool have_uv, float time) {
    float value = gmat_roughness(mid);
    int tex = gmat_roughness_tex(mid);
    if (tex < 0) return value;
    return have_uv ? sample_texture_scalar(tex, uv) : value;
}

float eval_metallic(int mid, vec2 uv, bool have_uv, float time) {
    float value = gmat_metallic(mid);
    int tex = gmat_metallic_tex(mid);
    if (tex < 0) return value;
    return have_uv ? sample_texture_scalar(tex, uv) : value;
}

vec3 eval_normal_map(int mid, vec2 uv, bool have_uv, float time, vec3 Ns_f, vec3 Ng_f,
    uint instanceIdx, int primitiveId, vec2 barycentrics) {
    int _tex = gmat_normal_tex(mid);
    if (_tex < 0) return Ns_f;
    if (!have_uv) return Ns_f;
    vec3 tangent_ws;
    if (!read_tangent(instanceIdx, primitiveId, barycentrics, tangent_ws)) return Ns_f;
    tangent_ws = normalize(tangent_ws - dot(tangent_ws, Ns_f) * Ns_f);
    vec3 bitangent_ws = cross(Ns_f, tangent_ws);
    vec3 nm = sample_texture_rgb(_tex, uv) * 2.0 - 1.0;
    vec3 perturbed = normalize(tangent_ws * nm.x + Ns_f * nm.z + bitangent_ws * nm.y);
    return (dot(perturbed, Ng_f) > 0.0) ? perturbed : Ns_f;
}

vec3 eval_emission(int mid, vec2 uv, bool have_uv, float time) {
    vec3 value = gmat_emission(mid);
    int tex = gmat_emission_tex(mid);
    if (tex < 0) return value;
    return have_uv ? value * sample_texture_rgb(tex, uv) : value;
}

#endif // MATERIAL_EVAL_GLSL
