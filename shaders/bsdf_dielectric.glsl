// Rough dielectric interface (GGX reflection and refraction) and its
// thin-walled variant (a sheet that reflects and lets light straight
// through without bending it).
//
// eta is n_inside / n_outside; the inside is the -z side. Refraction uses
// the generalised half vector m = normalize(wi * eta' + wo) (Walter et al.
// 2007), with eta' the ratio of the side of wi to the side of wo. The lobe
// picks reflection or refraction in proportion to the Fresnel reflectance
// at the sampled visible normal.
//
// Energy compensation divides the lobe by its single-scattering albedo from
// the table (reflection plus transmission, seen from outside). Seen from
// inside the table for the reversed interface stands in for the missing
// slice; the thin sheet uses the white metal slice, since a lossless sheet
// reflects and transmits all the light each microfacet receives.
#ifndef VITREL_BSDF_DIELECTRIC_GLSL
#define VITREL_BSDF_DIELECTRIC_GLSL

#include "bsdf_common.glsl"
#include "energy_lut.glsl"
#include "microfacet.glsl"

struct DielectricLobe {
    vec2 alpha;
    float eta;          // n_inside / n_outside, > 0
    float spec_scale;   // multiplies the reflectance below total internal reflection
    vec3 trans_tint;    // colour of transmitted light applied at the surface
    bool thin;          // thin-walled sheet instead of an interface
    bool compensate;    // multiple-scattering energy compensation
    bool radiance;      // camera paths: transmitted radiance scales by 1 / eta'^2
};

// Between equal indices the interface is invisible: light passes straight
// through, neither bent nor reflected nor shadowed, whatever the roughness
// (every microfacet refracts it by zero degrees). The lobe is then a Dirac
// delta along -wo: eval and pdf are zero everywhere (no light sample can hit
// it), and sampling returns -wo with weight trans_tint and the stand-in
// density DIELECTRIC_PASS_THROUGH_PDF, large enough to win any MIS
// comparison and small enough that its square stays finite.
#define DIELECTRIC_INDEX_MATCH_EPS 1e-4
#define DIELECTRIC_PASS_THROUGH_PDF 1e12

bool dielectric_index_matched(DielectricLobe p) {
    return abs(p.eta - 1.0) < DIELECTRIC_INDEX_MATCH_EPS;
}

BsdfSample dielectric_pass_through(DielectricLobe p, vec3 wo) {
    BsdfSample s = bsdf_invalid_sample();
    if (wo.z == 0.0) return s;
    s.wi = -wo;
    s.weight = p.trans_tint;
    s.pdf = DIELECTRIC_PASS_THROUGH_PDF;
    s.valid = true;
    s.transmitted = true;
    return s;
}

float dielectric_reflectance(DielectricLobe p, float cos_o_m) {
    float f = fresnel_dielectric(cos_o_m, p.eta);
    if (p.thin) f = 2.0 * f / (1.0 + f);  // a slab: all inter-reflections summed
    return f >= 1.0 ? 1.0 : clamp(p.spec_scale * f, 0.0, 1.0);
}

float dielectric_compensation(DielectricLobe p, float cos_o) {
    if (!p.compensate) return 1.0;
    float a = ggx_equivalent_alpha(p.alpha);
    float mu = abs(cos_o);
    float e = p.thin ? ess_conductor(mu, a) : ess_dielectric(mu, a, max(p.eta, 1.0 / p.eta));
    return 1.0 / max(e, ESS_MIN_ALBEDO);
}

// Refraction of w through microfacet normal m; false on total internal
// reflection. eta_used receives the ratio n(wt side) / n(w side).
bool refract_dir(vec3 w, vec3 m, float eta, out float eta_used, out vec3 wt) {
    float cos_i = dot(m, w);
    if (cos_i < 0.0) {
        eta = 1.0 / eta;
        cos_i = -cos_i;
        m = -m;
    }
    float sin2_i = max(0.0, 1.0 - cos_i * cos_i);
    float sin2_t = sin2_i / (eta * eta);
    eta_used = eta;
    wt = vec3(0.0);
    if (sin2_t >= 1.0) return false;
    float cos_t = sqrt(1.0 - sin2_t);
    wt = -w / eta + (cos_i / eta - cos_t) * m;
    return true;
}

// ---- Thin sheet ------------------------------------------------------------
// Worked in the frame mirrored so that wo is above; transmission mirrors the
// reflected direction through the sheet.

vec3 thin_dielectric_eval(DielectricLobe p, vec3 wo, vec3 wi) {
    if (wo.z == 0.0 || wi.z == 0.0) return vec3(0.0);
    float side = wo.z > 0.0 ? 1.0 : -1.0;
    vec3 o = vec3(wo.xy, abs(wo.z));
    vec3 r = vec3(wi.xy, abs(wi.z));
    bool reflected = wi.z * side > 0.0;
    vec3 m = normalize(o + r);
    float f = dielectric_reflectance(p, dot(o, m));
    float lobe = ggx_d(m, p.alpha) * ggx_g2(o, r, p.alpha) / (4.0 * o.z) *
                 dielectric_compensation(p, o.z);
    return reflected ? vec3(f * lobe) : p.trans_tint * ((1.0 - f) * lobe);
}

float thin_dielectric_pdf(DielectricLobe p, vec3 wo, vec3 wi) {
    if (wo.z == 0.0 || wi.z == 0.0) return 0.0;
    vec3 o = vec3(wo.xy, abs(wo.z));
    vec3 r = vec3(wi.xy, abs(wi.z));
    bool reflected = wi.z * wo.z > 0.0;
    vec3 m = normalize(o + r);
    float f = dielectric_reflectance(p, dot(o, m));
    float mirror_pdf = ggx_visible_d(o, m, p.alpha) / (4.0 * dot(o, m));
    return (reflected ? f : 1.0 - f) * mirror_pdf;
}

BsdfSample thin_dielectric_sample(DielectricLobe p, vec3 wo, vec3 u) {
    if (wo.z == 0.0) return bsdf_invalid_sample();
    float side = wo.z > 0.0 ? 1.0 : -1.0;
    vec3 o = vec3(wo.xy, abs(wo.z));
    vec3 m = ggx_sample_visible(o, p.alpha, u.yz);
    vec3 r = reflect(-o, m);
    if (r.z <= 0.0) return bsdf_invalid_sample();
    float f = dielectric_reflectance(p, dot(o, m));
    bool reflected = u.x < f;
    vec3 wi = vec3(r.xy, reflected ? side * r.z : -side * r.z);
    BsdfSample s = bsdf_make_sample(wi, thin_dielectric_eval(p, wo, wi), thin_dielectric_pdf(p, wo, wi));
    s.transmitted = !reflected;
    return s;
}

// ---- Interface -------------------------------------------------------------

// Shared geometry of eval and pdf: the generalised half vector, oriented up,
// or false when the configuration has no microfacet (back-facing).
bool dielectric_half_vector(DielectricLobe p, vec3 wo, vec3 wi, out vec3 m, out float eta_used) {
    m = vec3(0.0, 0.0, 1.0);
    eta_used = 1.0;
    if (wo.z == 0.0 || wi.z == 0.0) return false;
    if (wo.z * wi.z < 0.0) eta_used = wo.z > 0.0 ? p.eta : 1.0 / p.eta;
    vec3 h = wi * eta_used + wo;
    if (dot(h, h) == 0.0) return false;
    m = normalize(h);
    if (m.z < 0.0) m = -m;
    return dot(m, wi) * wi.z > 0.0 && dot(m, wo) * wo.z > 0.0;
}

vec3 dielectric_eval(DielectricLobe p, vec3 wo, vec3 wi) {
    if (dielectric_index_matched(p)) return vec3(0.0);
    if (p.thin) return thin_dielectric_eval(p, wo, wi);
    vec3 m;
    float eta_used;
    if (!dielectric_half_vector(p, wo, wi, m, eta_used)) return vec3(0.0);
    float f = dielectric_reflectance(p, dot(wo, m));
    float dg = ggx_d(m, p.alpha) * ggx_g2(wo, wi, p.alpha) * dielectric_compensation(p, wo.z);
    if (wo.z * wi.z > 0.0) return vec3(f * dg / (4.0 * abs(wo.z)));
    float om = dot(wo, m);
    float im = dot(wi, m);
    float denom = im + om / eta_used;
    float ft = (1.0 - f) * dg * abs(im * om / (wo.z * denom * denom));
    if (p.radiance) ft /= eta_used * eta_used;
    return p.trans_tint * ft;
}

float dielectric_pdf(DielectricLobe p, vec3 wo, vec3 wi) {
    if (dielectric_index_matched(p)) return 0.0;
    if (p.thin) return thin_dielectric_pdf(p, wo, wi);
    vec3 m;
    float eta_used;
    if (!dielectric_half_vector(p, wo, wi, m, eta_used)) return 0.0;
    float om = dot(wo, m);
    float f = dielectric_reflectance(p, om);
    float vd = ggx_visible_d(wo, m, p.alpha);
    if (wo.z * wi.z > 0.0) return f * vd / (4.0 * abs(om));
    float im = dot(wi, m);
    float denom = im + om / eta_used;
    return (1.0 - f) * vd * abs(im) / (denom * denom);
}

BsdfSample dielectric_sample(DielectricLobe p, vec3 wo, vec3 u) {
    if (dielectric_index_matched(p)) return dielectric_pass_through(p, wo);
    if (p.thin) return thin_dielectric_sample(p, wo, u);
    if (wo.z == 0.0) return bsdf_invalid_sample();
    vec3 m = ggx_sample_visible(wo, p.alpha, u.yz);
    float f = dielectric_reflectance(p, dot(wo, m));
    vec3 wi;
    bool reflected = u.x < f;
    if (reflected) {
        wi = reflect(-wo, m);
        if (!same_hemisphere(wo, wi)) return bsdf_invalid_sample();
    } else {
        float eta_used;
        if (!refract_dir(wo, m, p.eta, eta_used, wi)) return bsdf_invalid_sample();
        if (same_hemisphere(wo, wi) || wi.z == 0.0) return bsdf_invalid_sample();
    }
    BsdfSample s = bsdf_make_sample(wi, dielectric_eval(p, wo, wi), dielectric_pdf(p, wo, wi));
    s.transmitted = !reflected;
    return s;
}

#endif
