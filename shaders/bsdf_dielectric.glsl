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
// Energy compensation (Kulla and Conty 2017, "Revisiting physically based
// shading at Imageworks") adds a diffuse-like multiple-scattering lobe to
// the single-scattering one. Seen from side s (n_s, albedo table E_s of
// that side, average Ebar_s):
//   reflection   (1 - x_s) (1 - E_s(mu_o)) (1 - E_s(mu_i)) / (pi (1 - Ebar_s))
//   transmission  x_s      (1 - E_s(mu_o)) (1 - E_t(mu_i)) / (pi (1 - Ebar_t))
// so a lossless interface returns exactly 1 - E_s(mu_o) more, from either
// side, the total internal reflection region included (the inside tables).
// Both terms are symmetric in the two directions once
//   x_s n_s^2 (1 - Ebar_s) = x_t n_t^2 (1 - Ebar_t) = w,
// and we take w = (1 - F0) min over the sides of n^2 (1 - Ebar): the share
// that crosses follows the interface's normal-incidence transmittance. The
// thin sheet has the same structure with the white metal table on both
// sides and the slab's normal-incidence transmittance as its share.
//
// Reciprocity. `radiance` (camera paths) gives the BSDF f with
// f(o, i) / n_o^2 = f(i, o) / n_i^2 (transmitted radiance scales by
// 1 / eta'^2). Without it the lobe is the adjoint f*(o, i) = f(i, o) =
// f(o, i) (n_i / n_o)^2, the one light paths need (importance crosses the
// interface unscaled); every part of the lobe, compensation included,
// satisfies both. A white lossless interface conserves energy in the
// adjoint form (every sample weight stays 1 on average).
#ifndef VITREL_BSDF_DIELECTRIC_GLSL
#define VITREL_BSDF_DIELECTRIC_GLSL

#include "bsdf_common.glsl"
#include "energy_lut.glsl"
#include "microfacet.glsl"
#include "sampling.glsl"

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
// it), and sampling returns -wo with weight trans_tint, flagged `delta`
// with pdf 1 (the probability of the discrete choice, not a density).
#define DIELECTRIC_INDEX_MATCH_EPS 1e-4

bool dielectric_index_matched(DielectricLobe p) {
    return abs(p.eta - 1.0) < DIELECTRIC_INDEX_MATCH_EPS;
}

BsdfSample dielectric_pass_through(DielectricLobe p, vec3 wo) {
    BsdfSample s = bsdf_invalid_sample();
    if (wo.z == 0.0) return s;
    s.wi = -wo;
    s.weight = p.trans_tint;
    s.pdf = 1.0;
    s.valid = true;
    s.transmitted = true;
    s.delta = true;
    return s;
}

float dielectric_reflectance(DielectricLobe p, float cos_o_m) {
    float f = fresnel_dielectric(cos_o_m, p.eta);
    if (p.thin) f = 2.0 * f / (1.0 + f);  // a slab: all inter-reflections summed
    return f >= 1.0 ? 1.0 : clamp(p.spec_scale * f, 0.0, 1.0);
}

// Below this 1 - Ebar a side loses no energy worth compensating.
#define DIELECTRIC_MS_MIN 1e-4

// The multiple-scattering lobe of one configuration: per side the albedo
// loss 1 - E(mu) of both directions, the normalisation 1 / (pi (1 - Ebar))
// of the side wi lies on, and the shares that cross.
struct DielectricMs {
    float loss_o;     // 1 - E(mu_o) on the side of wo
    float loss_i;     // 1 - E(mu_i) on the side of wi
    float norm_i;     // 1 / (pi (1 - Ebar)) on the side of wi
    float cross_o;    // x of the side of wo
};

// n_far / n_near seen from a direction on side `w_z` (the outside is +z).
float dielectric_side_eta(DielectricLobe p, float w_z) { return w_z > 0.0 ? p.eta : 1.0 / p.eta; }

float dielectric_side_albedo(DielectricLobe p, float a, float w_z) {
    return p.thin ? ess_conductor(abs(w_z), a) : ess_dielectric(abs(w_z), a, dielectric_side_eta(p, w_z));
}
float dielectric_side_loss_average(DielectricLobe p, float a, float w_z) {
    return 1.0 - (p.thin ? ess_conductor_average(a) : ess_dielectric_average(a, dielectric_side_eta(p, w_z)));
}

// Share of the multiple-scattering energy leaving wo's side that crosses.
float dielectric_ms_cross(DielectricLobe p, float a, float wo_z) {
    float f0 = (p.eta - 1.0) / (p.eta + 1.0);
    f0 *= f0;
    if (p.thin) return (1.0 - f0) / (1.0 + f0);
    float n2 = p.eta * p.eta;
    float out_term = dielectric_side_loss_average(p, a, 1.0);
    float in_term = n2 * dielectric_side_loss_average(p, a, -1.0);
    float w = (1.0 - f0) * min(out_term, in_term);
    return clamp(w / (wo_z > 0.0 ? out_term : in_term), 0.0, 1.0);
}

// Everything of the lobe for wo alone (loss_i and norm_i are filled by
// dielectric_ms_at). False when there is nothing to compensate.
bool dielectric_ms_setup(DielectricLobe p, vec3 wo, out DielectricMs ms) {
    ms.loss_o = 0.0;
    ms.loss_i = 0.0;
    ms.norm_i = 0.0;
    ms.cross_o = 0.0;
    if (!p.compensate || wo.z == 0.0) return false;
    float a = ggx_equivalent_alpha(p.alpha);
    if (dielectric_side_loss_average(p, a, 1.0) < DIELECTRIC_MS_MIN ||
        dielectric_side_loss_average(p, a, -1.0) < DIELECTRIC_MS_MIN)
        return false;
    ms.loss_o = clamp(1.0 - dielectric_side_albedo(p, a, wo.z), 0.0, 1.0);
    ms.cross_o = dielectric_ms_cross(p, a, wo.z);
    return ms.loss_o > 0.0;
}

void dielectric_ms_at(DielectricLobe p, vec3 wi, inout DielectricMs ms) {
    float a = ggx_equivalent_alpha(p.alpha);
    ms.loss_i = clamp(1.0 - dielectric_side_albedo(p, a, wi.z), 0.0, 1.0);
    ms.norm_i = INV_PI / dielectric_side_loss_average(p, a, wi.z);
}

// f(wo, wi) |cos theta_i| of the multiple-scattering lobe; the transmitted
// part carries trans_tint and, for radiance, 1 / eta'^2 (no bending for
// the thin sheet).
vec3 dielectric_ms_eval(DielectricLobe p, vec3 wo, vec3 wi) {
    DielectricMs ms;
    if (wi.z == 0.0 || !dielectric_ms_setup(p, wo, ms)) return vec3(0.0);
    dielectric_ms_at(p, wi, ms);
    float f = ms.loss_o * ms.loss_i * ms.norm_i * abs(wi.z);
    if (same_hemisphere(wo, wi)) return vec3((1.0 - ms.cross_o) * f);
    f *= ms.cross_o;
    if (p.radiance && !p.thin) {
        float eta_used = wo.z > 0.0 ? p.eta : 1.0 / p.eta;
        f /= eta_used * eta_used;
    }
    return p.trans_tint * f;
}

// Probability of sampling the lobe (1 - E(mu_o)) and its density at wi.
float dielectric_ms_probability(DielectricLobe p, vec3 wo, out DielectricMs ms) {
    return dielectric_ms_setup(p, wo, ms) ? ms.loss_o : 0.0;
}
float dielectric_ms_pdf(DielectricMs ms, vec3 wo, vec3 wi) {
    return (same_hemisphere(wo, wi) ? 1.0 - ms.cross_o : ms.cross_o) * abs(wi.z) * INV_PI;
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

vec3 thin_dielectric_ss_eval(DielectricLobe p, vec3 wo, vec3 wi) {
    if (wo.z == 0.0 || wi.z == 0.0) return vec3(0.0);
    float side = wo.z > 0.0 ? 1.0 : -1.0;
    vec3 o = vec3(wo.xy, abs(wo.z));
    vec3 r = vec3(wi.xy, abs(wi.z));
    bool reflected = wi.z * side > 0.0;
    vec3 m = normalize(o + r);
    float f = dielectric_reflectance(p, dot(o, m));
    float lobe = ggx_d(m, p.alpha) * ggx_g2(o, r, p.alpha) / (4.0 * o.z);
    return reflected ? vec3(f * lobe) : p.trans_tint * ((1.0 - f) * lobe);
}

float thin_dielectric_ss_pdf(DielectricLobe p, vec3 wo, vec3 wi) {
    if (wo.z == 0.0 || wi.z == 0.0) return 0.0;
    vec3 o = vec3(wo.xy, abs(wo.z));
    vec3 r = vec3(wi.xy, abs(wi.z));
    bool reflected = wi.z * wo.z > 0.0;
    vec3 m = normalize(o + r);
    float f = dielectric_reflectance(p, dot(o, m));
    float mirror_pdf = ggx_visible_d(o, m, p.alpha) / (4.0 * dot(o, m));
    return (reflected ? f : 1.0 - f) * mirror_pdf;
}

BsdfSample thin_dielectric_ss_sample(DielectricLobe p, vec3 wo, vec3 u) {
    if (wo.z == 0.0) return bsdf_invalid_sample();
    float side = wo.z > 0.0 ? 1.0 : -1.0;
    vec3 o = vec3(wo.xy, abs(wo.z));
    vec3 m = ggx_sample_visible(o, p.alpha, u.yz);
    vec3 r = reflect(-o, m);
    if (r.z <= 0.0) return bsdf_invalid_sample();
    float f = dielectric_reflectance(p, dot(o, m));
    bool reflected = u.x < f;
    vec3 wi = vec3(r.xy, reflected ? side * r.z : -side * r.z);
    BsdfSample s = bsdf_make_sample(wi, thin_dielectric_ss_eval(p, wo, wi), thin_dielectric_ss_pdf(p, wo, wi));
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

vec3 dielectric_ss_eval(DielectricLobe p, vec3 wo, vec3 wi) {
    if (p.thin) return thin_dielectric_ss_eval(p, wo, wi);
    vec3 m;
    float eta_used;
    if (!dielectric_half_vector(p, wo, wi, m, eta_used)) return vec3(0.0);
    float f = dielectric_reflectance(p, dot(wo, m));
    float dg = ggx_d(m, p.alpha) * ggx_g2(wo, wi, p.alpha);
    if (wo.z * wi.z > 0.0) return vec3(f * dg / (4.0 * abs(wo.z)));
    float om = dot(wo, m);
    float im = dot(wi, m);
    float denom = im + om / eta_used;
    float ft = (1.0 - f) * dg * abs(im * om / (wo.z * denom * denom));
    if (p.radiance) ft /= eta_used * eta_used;
    return p.trans_tint * ft;
}

float dielectric_ss_pdf(DielectricLobe p, vec3 wo, vec3 wi) {
    if (p.thin) return thin_dielectric_ss_pdf(p, wo, wi);
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

// Direction of the single-scattering lobe; false for no direction.
bool dielectric_ss_direction(DielectricLobe p, vec3 wo, vec3 u, out vec3 wi) {
    wi = vec3(0.0, 0.0, 1.0);
    if (p.thin) {
        BsdfSample t = thin_dielectric_ss_sample(p, wo, u);
        wi = t.wi;
        return t.valid;
    }
    vec3 m = ggx_sample_visible(wo, p.alpha, u.yz);
    float f = dielectric_reflectance(p, dot(wo, m));
    if (u.x < f) {
        wi = reflect(-wo, m);
        return same_hemisphere(wo, wi);
    }
    float eta_used;
    if (!refract_dir(wo, m, p.eta, eta_used, wi)) return false;
    return !same_hemisphere(wo, wi) && wi.z != 0.0;
}

vec3 dielectric_eval(DielectricLobe p, vec3 wo, vec3 wi) {
    if (dielectric_index_matched(p)) return vec3(0.0);
    return dielectric_ss_eval(p, wo, wi) + dielectric_ms_eval(p, wo, wi);
}

float dielectric_pdf(DielectricLobe p, vec3 wo, vec3 wi) {
    if (dielectric_index_matched(p)) return 0.0;
    if (wo.z == 0.0 || wi.z == 0.0) return 0.0;
    DielectricMs ms;
    float q = dielectric_ms_probability(p, wo, ms);
    float pdf = (1.0 - q) * dielectric_ss_pdf(p, wo, wi);
    if (q > 0.0) pdf += q * dielectric_ms_pdf(ms, wo, wi);
    return pdf;
}

// u.x picks the multiple-scattering lobe with probability 1 - E(mu_o) and
// is then rescaled for the lobe's own choice (reflect or cross).
BsdfSample dielectric_sample(DielectricLobe p, vec3 wo, vec3 u) {
    if (dielectric_index_matched(p)) return dielectric_pass_through(p, wo);
    if (wo.z == 0.0) return bsdf_invalid_sample();
    DielectricMs ms;
    float q = dielectric_ms_probability(p, wo, ms);
    vec3 wi;
    if (u.x < q) {
        float v = u.x / q;
        wi = sample_cosine_hemisphere(u.zy);
        bool up = wo.z > 0.0;
        if (v < ms.cross_o) up = !up;  // crosses to the other side
        if (!up) wi.z = -wi.z;
        if (wi.z == 0.0) return bsdf_invalid_sample();
    } else {
        vec3 lu = vec3(clamp((u.x - q) / (1.0 - q), 0.0, 0.99999994), u.yz);
        if (!dielectric_ss_direction(p, wo, lu, wi)) return bsdf_invalid_sample();
    }
    BsdfSample s = bsdf_make_sample(wi, dielectric_eval(p, wo, wi), dielectric_pdf(p, wo, wi));
    s.transmitted = !same_hemisphere(wo, wi);
    return s;
}

#endif
