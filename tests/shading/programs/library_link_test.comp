#version 460
// The whole shading library under the renderer's descriptor layout: one
// thread decodes material 0, samples the principled BSDF, reads a texture,
// a tangent and the environment, and writes the results.
#include "scene_resources.glsl"

layout(std430, set = 0, binding = BINDING_OUTPUT) buffer OutBlock { float out_values[]; };

layout(local_size_x = 1) in;
layout(push_constant) uniform Push { mat4x3 object_to_world; } pc;

#define VITREL_OBJECT_TO_WORLD pc.object_to_world
#include "sampling.glsl"
#include "textures.glsl"
#include "geometry.glsl"
#include "environment.glsl"
#include "principled.glsl"

CDF_SEARCH_FUNCTIONS(light_search, light_cdf)

void main() {
    ShadingMaterial m = decode_material(0, gmat_base_color(0), gmat_roughness(0), gmat_metallic(0),
                                        gmat_emission(0));
    vec3 wo = normalize(vec3(0.3, 0.2, 0.9));
    PrincipledBsdf b = principled_setup(m, wo, true);
    BsdfSample s = principled_sample(b, wo, vec3(sample_2d(uvec2(3, 4), 0u, 0u), 0.5));
    vec3 tangent;
    bool has_tangent = read_tangent(0u, 0, vec2(0.25), tangent);
    EnvSample e = env_sample(uvec2(0x80000000u, 0x40000000u), vec2(0.5));
    out_values[0] = s.valid ? 1.0 : 0.0;
    out_values[1] = s.weight.g;
    out_values[2] = abs(principled_pdf(b, wo, s.wi) - s.pdf) / max(s.pdf, 1e-20);
    out_values[3] = sample_texture_rgb(gmat_albedo_tex(0), vec2(0.5)).g;
    out_values[4] = has_tangent ? 1.0 : 0.0;
    out_values[5] = e.valid ? 1.0 : 0.0;
    out_values[6] = float(light_search(0u, uint(BOUND_LENGTH(light_cdf)), 0x7FFFFFFFu));
}
