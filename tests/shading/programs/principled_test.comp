#version 460
// Drives material decoding and the principled BSDF for the host tests. The
// host compiles one variant per mode (RUN_SAMPLE, RUN_QUADRATURE,
// RUN_DECODE, RUN_COVERAGE, RUN_EVAL, RUN_RECIPROCITY) so that each holds only the code it
// runs; lavapipe takes seconds to compile the whole BSDF several times over.
#include "gpu_layout.h"

layout(std430, set = 0, binding = 0) readonly buffer EssLut { uint ess_lut_words[]; };
layout(std430, set = 0, binding = 1) readonly buffer Materials { GpuMaterial materials[]; };
layout(std430, set = 0, binding = 2) buffer Out { float out_values[]; };

#include "principled.glsl"

layout(local_size_x = 64) in;
layout(push_constant) uniform Push {
    uint mode;        // selects the variant on the host side
    int mid;
    uint count;
    uint seed;
    vec4 wo;
    vec4 albedo;      // eval_albedo result; w = eval_roughness result
    float metallic;   // eval_metallic result
    uint radiance;
    uint grid_theta;
    uint grid_phi;
    uint substeps;
    vec4 wi;          // direction for MODE_EVAL
} pc;


float uniform_float(uint stream, uint k) { return u32_to_unit_float(hash_combine(hash_combine(pc.seed, stream), k)); }

ShadingMaterial shading_material() {
    return decode_material(pc.mid, pc.albedo.rgb, pc.albedo.w, pc.metallic, gmat_emission(pc.mid));
}

void main() {
    uint t = gl_GlobalInvocationID.x;
    if (t >= pc.count) return;
    vec3 wo = normalize(pc.wo.xyz);
#if defined(RUN_SAMPLE)
    {
        PrincipledBsdf b = principled_setup(shading_material(), wo, pc.radiance != 0u);
        vec3 u = vec3(uniform_float(t, 0u), uniform_float(t, 1u), uniform_float(t, 2u));
        BsdfSample s = principled_sample(b, wo, u);
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
        PrincipledBsdf b = principled_setup(shading_material(), wo, pc.radiance != 0u);
        uint it = t / pc.grid_phi;
        uint ip = t % pc.grid_phi;
        float dc = 2.0 / float(pc.grid_theta);
        float dp = TWO_PI / float(pc.grid_phi);
        float n = float(pc.substeps);
        float pdf_sum = 0.0;
        for (uint a = 0u; a < pc.substeps; ++a) {
            for (uint c = 0u; c < pc.substeps; ++c) {
                float z = 1.0 - dc * (float(it) + (float(a) + 0.5) / n);
                float phi = dp * (float(ip) + (float(c) + 0.5) / n);
                float r = sqrt(max(0.0, 1.0 - z * z));
                pdf_sum += principled_pdf(b, wo, vec3(r * cos(phi), r * sin(phi), z));
            }
        }
        out_values[t] = pdf_sum * dc * dp / (n * n);
    }
#elif defined(RUN_DECODE)
    {
        ShadingMaterial m = shading_material();
        uint o = 0u;
        out_values[o++] = m.ior;
        out_values[o++] = m.specular_scale;
        out_values[o++] = m.coat;
        out_values[o++] = m.coat_roughness;
        out_values[o++] = m.coat_ior;
        out_values[o++] = m.sheen;
        out_values[o++] = m.sheen_roughness;
        out_values[o++] = m.anisotropy;
        out_values[o++] = m.anisotropy_rotation;
        out_values[o++] = m.diffuse_roughness;
        out_values[o++] = m.roughness;
        out_values[o++] = m.metallic;
        out_values[o++] = m.base_color.g;
        out_values[o++] = m.transmission;
        out_values[o++] = m.absorption_distance;
        out_values[o++] = m.thin_walled ? 1.0 : 0.0;
        out_values[o++] = m.subsurface_ior;
        out_values[o++] = m.subsurface_anisotropy;
        out_values[o++] = float(m.alpha_mode);
        out_values[o++] = m.f82_tint.b;
        out_values[o++] = m.coat_color.r;
        out_values[o++] = m.transmission_color.g;
        out_values[o++] = gmat_specTrans(pc.mid);
        out_values[o++] = float(gmat_albedo_tex(pc.mid));
        out_values[o++] = float(gmat_emission_tex(pc.mid));
        out_values[o++] = gmat_alpha_cutoff(pc.mid);
    }
#elif defined(RUN_EVAL)
    {
        PrincipledBsdf b = principled_setup(shading_material(), wo, pc.radiance != 0u);
        vec3 wi = normalize(pc.wi.xyz);
        vec3 f = principled_eval(b, wo, wi);
        out_values[0] = f.r;
        out_values[1] = f.g;
        out_values[2] = f.b;
        out_values[3] = principled_pdf(b, wo, wi);
    }
#elif defined(RUN_RECIPROCITY)
    {
        // Random pairs (both above the surface, or over the whole sphere
        // when grid_theta is 0, for materials that transmit): the adjoint
        // f*(a, b) against the radiance value f(b, a), without the cosine.
        vec3 a = sample_uniform_sphere(vec2(uniform_float(t, 0u), uniform_float(t, 1u)));
        vec3 b = sample_uniform_sphere(vec2(uniform_float(t, 2u), uniform_float(t, 3u)));
        if (pc.grid_theta != 0u) {
            a.z = abs(a.z);
            b.z = abs(b.z);
        }
        ShadingMaterial m = shading_material();
        uint o = 4u * t;
        out_values[o] = a.z;
        out_values[o + 1u] = b.z;
        out_values[o + 2u] = bsdf_eval_adjoint(m, a, b).g / abs(b.z);
        out_values[o + 3u] = principled_eval(principled_setup(m, b, true), b, a).g / abs(a.z);
    }
#elif defined(RUN_COVERAGE)
    {
        out_values[t] = material_covers(shading_material(), (float(t) + 0.5) / float(pc.count)) ? 1.0 : 0.0;
    }
#endif
}
