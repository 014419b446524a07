#version 460
// Drives one BSDF lobe for the host tests: sampling (RUN_SAMPLE), quadrature
// of pdf and eval over a (cos theta, phi) grid of the sphere
// (RUN_QUADRATURE), reciprocity pairs (RUN_RECIPROCITY) and the layer
// albedo tables against their quadratures (RUN_LAYER_ALBEDO). Each mode is
// its own compiled variant, so lavapipe compiles only the code it runs.
layout(std430, set = 0, binding = 0) readonly buffer EssLut { uint ess_lut_words[]; };
layout(std430, set = 0, binding = 1) buffer Out { float out_values[]; };

// Finer reference quadratures than the shading library's defaults.
#define SPECULAR_ALBEDO_STEPS 32
#define SHEEN_ALBEDO_THETA_STEPS 64
#define SHEEN_ALBEDO_PHI_STEPS 64
#include "bsdf_conductor.glsl"
#include "bsdf_dielectric.glsl"
#include "bsdf_diffuse.glsl"
#include "bsdf_layers.glsl"

layout(local_size_x = 64) in;
layout(push_constant) uniform Push {
    uint mode;  // selects the variant on the host side
    uint lobe;
    uint count;
    uint seed;
    float roughness;
    float anisotropy;
    float eta;
    float spec_scale;
    vec4 wo;
    vec4 f0;
    vec4 tint;
    uint flags;
    uint grid_theta;
    uint grid_phi;
    uint substeps;
} pc;


#define LOBE_LAMBERT 0u
#define LOBE_ROUGH_DIFFUSE 1u
#define LOBE_CONDUCTOR 2u
#define LOBE_DIELECTRIC 3u

#define FLAG_COMPENSATE 1u
#define FLAG_THIN 2u
#define FLAG_RADIANCE 4u

ConductorLobe conductor() {
    ConductorLobe c;
    c.alpha = ggx_alphas(pc.roughness, pc.anisotropy);
    c.f0 = pc.f0.rgb;
    c.tint = pc.tint.rgb;
    c.compensate = (pc.flags & FLAG_COMPENSATE) != 0u;
    return c;
}

DielectricLobe dielectric(bool radiance) {
    DielectricLobe d;
    d.alpha = ggx_alphas(pc.roughness, pc.anisotropy);
    d.eta = pc.eta;
    d.spec_scale = pc.spec_scale;
    d.trans_tint = pc.tint.rgb;
    d.thin = (pc.flags & FLAG_THIN) != 0u;
    d.compensate = (pc.flags & FLAG_COMPENSATE) != 0u;
    d.radiance = radiance;
    return d;
}
DielectricLobe dielectric() { return dielectric((pc.flags & FLAG_RADIANCE) != 0u); }

vec3 lobe_eval(vec3 wo, vec3 wi) {
    if (pc.lobe == LOBE_LAMBERT) return lambert_eval(pc.f0.rgb, wo, wi);
    if (pc.lobe == LOBE_ROUGH_DIFFUSE) return rough_diffuse_eval(pc.f0.rgb, pc.roughness, wo, wi);
    if (pc.lobe == LOBE_CONDUCTOR) return conductor_eval(conductor(), wo, wi);
    return dielectric_eval(dielectric(), wo, wi);
}

float lobe_pdf(vec3 wo, vec3 wi) {
    if (pc.lobe == LOBE_LAMBERT || pc.lobe == LOBE_ROUGH_DIFFUSE) return diffuse_pdf(wo, wi);
    if (pc.lobe == LOBE_CONDUCTOR) return conductor_pdf(conductor(), wo, wi);
    return dielectric_pdf(dielectric(), wo, wi);
}

BsdfSample lobe_sample(vec3 wo, vec3 u) {
    if (pc.lobe == LOBE_LAMBERT) return lambert_sample(pc.f0.rgb, wo, u);
    if (pc.lobe == LOBE_ROUGH_DIFFUSE) return rough_diffuse_sample(pc.f0.rgb, pc.roughness, wo, u);
    if (pc.lobe == LOBE_CONDUCTOR) return conductor_sample(conductor(), wo, u);
    return dielectric_sample(dielectric(), wo, u);
}

float uniform_float(uint stream, uint k) { return u32_to_unit_float(hash_combine(hash_combine(pc.seed, stream), k)); }

vec3 grid_direction(float cos_theta, float phi) {
    float s = sqrt(max(0.0, 1.0 - cos_theta * cos_theta));
    return vec3(s * cos(phi), s * sin(phi), cos_theta);
}

void main() {
    uint t = gl_GlobalInvocationID.x;
    if (t >= pc.count) return;
    vec3 wo = normalize(pc.wo.xyz);
#if defined(RUN_SAMPLE)
    {
        vec3 u = vec3(uniform_float(t, 0u), uniform_float(t, 1u), uniform_float(t, 2u));
        BsdfSample s = lobe_sample(wo, u);
        uint o = 8u * t;
        out_values[o] = s.wi.x;
        out_values[o + 1u] = s.wi.y;
        out_values[o + 2u] = s.wi.z;
        out_values[o + 3u] = s.pdf;
        out_values[o + 4u] = s.weight.r;
        out_values[o + 5u] = s.weight.g;
        out_values[o + 6u] = s.weight.b;
        out_values[o + 7u] = float((s.valid ? 1u : 0u) | (s.transmitted ? 2u : 0u));
    }
#elif defined(RUN_QUADRATURE)
    {
        // Bin t of the grid: rows of cos theta from +1 down to -1, columns of phi.
        uint it = t / pc.grid_phi;
        uint ip = t % pc.grid_phi;
        float dc = 2.0 / float(pc.grid_theta);
        float dp = TWO_PI / float(pc.grid_phi);
        float n = float(pc.substeps);
        float pdf_sum = 0.0;
        vec3 eval_sum = vec3(0.0);
        for (uint a = 0u; a < pc.substeps; ++a) {
            for (uint b = 0u; b < pc.substeps; ++b) {
                float c = 1.0 - dc * (float(it) + (float(a) + 0.5) / n);
                float phi = dp * (float(ip) + (float(b) + 0.5) / n);
                vec3 wi = grid_direction(c, phi);
                pdf_sum += lobe_pdf(wo, wi);
                eval_sum += lobe_eval(wo, wi);
            }
        }
        float area = dc * dp / (n * n);
        out_values[4u * t] = pdf_sum * area;
        out_values[4u * t + 1u] = eval_sum.r * area;
        out_values[4u * t + 2u] = eval_sum.g * area;
        out_values[4u * t + 3u] = eval_sum.b * area;
    }
#elif defined(RUN_RECIPROCITY)
    {
        // Random pairs on the sphere (upper hemisphere for both unless the
        // lobe transmits): the adjoint f*(a, b) (importance) against
        // f(b, a) (radiance), without the cosine factor; they must agree.
        vec3 a = sample_uniform_sphere(vec2(uniform_float(t, 0u), uniform_float(t, 1u)));
        vec3 b = sample_uniform_sphere(vec2(uniform_float(t, 2u), uniform_float(t, 3u)));
        if (pc.lobe != LOBE_DIELECTRIC) {
            a.z = abs(a.z);
            b.z = abs(b.z);
        }
        uint o = 8u * t;
        out_values[o] = a.x;
        out_values[o + 1u] = a.y;
        out_values[o + 2u] = a.z;
        out_values[o + 3u] = b.x;
        out_values[o + 4u] = b.y;
        out_values[o + 5u] = b.z;
        if (pc.lobe == LOBE_DIELECTRIC) {
            out_values[o + 6u] = dielectric_eval(dielectric(false), a, b).g / abs(b.z);
            out_values[o + 7u] = dielectric_eval(dielectric(true), b, a).g / abs(a.z);
        } else {
            out_values[o + 6u] = lobe_eval(a, b).g / abs(b.z);
            out_values[o + 7u] = lobe_eval(b, a).g / abs(a.z);
        }
    }
#elif defined(RUN_LAYER_ALBEDO)
    {
        // A random isotropic layer and view: the tables against the
        // quadratures they replace (specular layer of scale 1, white sheen).
        float mu = max(uniform_float(t, 0u), 1e-3);
        vec3 w = vec3(sqrt(1.0 - mu * mu), 0.0, mu);
        SpecularLobe layer;
        layer.alpha = ggx_alphas(uniform_float(t, 1u), 0.0);
        layer.eta = 1.0 + (ESS_MAX_ETA - 1.0) * uniform_float(t, 2u);
        layer.scale = 1.0;
        float sheen_roughness = uniform_float(t, 3u);
        uint o = 8u * t;
        out_values[o] = mu;
        out_values[o + 1u] = layer.alpha.x;
        out_values[o + 2u] = layer.eta;
        out_values[o + 3u] = sheen_roughness;
        out_values[o + 4u] = specular_albedo(layer, w);
        out_values[o + 5u] = specular_albedo_quadrature(layer, w);
        out_values[o + 6u] = sheen_albedo(sheen_roughness, w);
        out_values[o + 7u] = sheen_albedo_quadrature(sheen_roughness, w);
    }
#endif
}
