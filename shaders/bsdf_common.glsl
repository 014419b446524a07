// Conventions shared by every lobe of the BSDF library.
//
// Directions are unit vectors in the local shading frame (normal +z, tangent
// +x). `wo` points towards the viewer (the previous path vertex) and `wi`
// towards the next vertex (the light). For every lobe:
//   <lobe>_eval(p, wo, wi)    the BSDF times |cos theta_i|, f(wo, wi) |wi.z|
//   <lobe>_pdf(p, wo, wi)     the solid-angle density with which
//                             <lobe>_sample returns wi
//   <lobe>_sample(p, wo, u)   draws wi from three uniform numbers; weight is
//                             eval / pdf, or the sample is invalid
// eval, pdf and sample describe the same lobe, so a sample's weight always
// equals eval(wo, wi) / pdf(wo, wi) at the returned direction, except for a
// `delta` sample: a direction picked from a discrete set (light passing an
// index-matched interface) that eval and pdf never see. Its pdf is the
// probability of the choice, not a density, and must not enter MIS: the
// integrator weights what such a ray finds by 1.
//
// Adjoint. Every lobe is reciprocal, f(wo, wi) = f(wi, wo), except that
// refraction in radiance form scales by 1 / eta'^2: f(o, i) / n_o^2 =
// f(i, o) / n_i^2 (n_o, n_i the indices on the sides of wo and wi). Light
// paths transport importance and need the adjoint f*(o, i) = f(i, o) =
// f(o, i) (n_i / n_o)^2, which is the lobes' non-radiance form
// (`principled_setup(..., false)`, see bsdf_eval_adjoint in principled.glsl).
#ifndef VITREL_BSDF_COMMON_GLSL
#define VITREL_BSDF_COMMON_GLSL

#include "constants.glsl"

struct BsdfSample {
    vec3 wi;
    vec3 weight;       // eval / pdf
    float pdf;
    bool valid;
    bool transmitted;  // wi lies on the other side of the surface than wo
    bool delta;        // a discrete direction: pdf is a probability, no MIS
};

BsdfSample bsdf_invalid_sample() {
    BsdfSample s;
    s.wi = vec3(0.0, 0.0, 1.0);
    s.weight = vec3(0.0);
    s.pdf = 0.0;
    s.valid = false;
    s.transmitted = false;
    s.delta = false;
    return s;
}

BsdfSample bsdf_make_sample(vec3 wi, vec3 f, float pdf) {
    BsdfSample s = bsdf_invalid_sample();
    if (!(pdf > 0.0)) return s;
    s.wi = wi;
    s.pdf = pdf;
    s.weight = f / pdf;
    s.valid = true;
    return s;
}

bool same_hemisphere(vec3 a, vec3 b) { return a.z * b.z > 0.0; }

#endif
