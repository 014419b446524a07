#version 460
// Layer albedos from the generated tables against the per-point
// quadratures the shading library ran before the tables existed (kept here
// verbatim as the reference): one (mu, roughness, eta) point per thread,
// writing table and quadrature values of the specular layer, the sheen
// lobe and the conductor average.
#extension GL_EXT_control_flow_attributes : require
#include "gpu_layout.h"

layout(std430, set = 0, binding = 0) readonly buffer EssLutBlock { uint ess_lut_words[]; };
layout(std430, set = 0, binding = 1) buffer Io { float io[]; };
layout(local_size_x = 64) in;
layout(push_constant) uniform Push { uint count; } pc;

#include "bsdf_layers.glsl"
#include "energy_lut.glsl"

#define SPECULAR_ALBEDO_STEPS 6
float specular_albedo_quadrature(SpecularLobe p, vec3 wo) {
    if (wo.z <= 0.0) return 0.0;
    float g1 = ggx_g1(wo, p.alpha);
    float sum = 0.0;
    [[dont_unroll]] for (int a = 0; a < SPECULAR_ALBEDO_STEPS; ++a) {
        [[dont_unroll]] for (int b = 0; b < SPECULAR_ALBEDO_STEPS; ++b) {
            vec2 u = (vec2(a, b) + 0.5) / float(SPECULAR_ALBEDO_STEPS);
            vec3 m = ggx_sample_visible(wo, p.alpha, u);
            vec3 wi = reflect(-wo, m);
            if (wi.z > 0.0) sum += specular_fresnel(p, dot(wo, m)) * ggx_g2(wo, wi, p.alpha) / g1;
        }
    }
    return clamp(sum / float(SPECULAR_ALBEDO_STEPS * SPECULAR_ALBEDO_STEPS), 0.0, 1.0);
}

#define SHEEN_ALBEDO_THETA_STEPS 12
#define SHEEN_ALBEDO_PHI_STEPS 12
float sheen_albedo_quadrature(float roughness, vec3 wo) {
    if (wo.z <= 0.0) return 0.0;
    float sum = 0.0;
    float d_theta = 0.5 * PI / float(SHEEN_ALBEDO_THETA_STEPS);
    float d_phi = TWO_PI / float(SHEEN_ALBEDO_PHI_STEPS);
    [[dont_unroll]] for (int a = 0; a < SHEEN_ALBEDO_THETA_STEPS; ++a) {
        float theta = (float(a) + 0.5) * d_theta;
        float st = sin(theta);
        float ct = cos(theta);
        [[dont_unroll]] for (int b = 0; b < SHEEN_ALBEDO_PHI_STEPS; ++b) {
            float phi = (float(b) + 0.5) * d_phi;
            vec3 wi = vec3(st * cos(phi), st * sin(phi), ct);
            sum += sheen_eval(vec3(1.0), roughness, wo, wi).g * st;
        }
    }
    return clamp(sum * d_theta * d_phi, 0.0, 1.0);
}

float conductor_average_quadrature(float alpha) {
    float fj = clamp(sqrt(max(alpha, 0.0)) * float(ESS_DIM - 1), 0.0, float(ESS_DIM - 1));
    int j0 = min(int(fj), ESS_DIM - 2);
    float tj = fj - float(j0);
    float sum0 = 0.0;
    float sum1 = 0.0;
    [[dont_unroll]] for (int i = 0; i < ESS_DIM; ++i) {
        float mu = (float(i) + 0.5) / float(ESS_DIM);
        sum0 += ess_entry(i, j0, 0) * mu;
        sum1 += ess_entry(i, j0 + 1, 0) * mu;
    }
    return 2.0 * mix(sum0, sum1, tj) / float(ESS_DIM);
}

void main() {
    uint t = gl_GlobalInvocationID.x;
    if (t >= pc.count) return;
    float mu = io[8u * t];
    float roughness = io[8u * t + 1u];
    float eta = io[8u * t + 2u];
    vec3 wo = vec3(sqrt(max(0.0, 1.0 - mu * mu)), 0.0, mu);
    SpecularLobe p;
    p.alpha = ggx_alphas(roughness, 0.0);
    p.eta = eta;
    p.scale = 1.0;
    io[8u * t + 2u] = specular_albedo(p, wo);
    io[8u * t + 3u] = specular_albedo_quadrature(p, wo);
    io[8u * t + 4u] = sheen_albedo(roughness, wo);
    io[8u * t + 5u] = sheen_albedo_quadrature(roughness, wo);
    io[8u * t + 6u] = ess_conductor_average(p.alpha.x);
    io[8u * t + 7u] = conductor_average_quadrature(p.alpha.x);
}
