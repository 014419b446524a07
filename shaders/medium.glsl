// Media inside closed meshes: Beer-Lambert absorption inside transmissive
// bodies, and the random-walk subsurface medium under a subsurface surface.
// Shared by every program that traces paths (camera and light paths); the
// design notes are in README.md ("Media").
//
// The including program defines, before using the walk,
//   MediumHit medium_trace(vec3 origin, vec3 direction, float tmax);
// the closest surface along the segment (any instance, with its instance
// id),
//   vec3 offset_origin(vec3 p, vec3 n, vec3 d);
// p moved off a surface with geometric normal n towards direction d, and
//   vec3 medium_boundary_light(vec3 position, vec3 t, vec3 b, vec3 n,
//                              DielectricLobe boundary, vec3 wo, inout uint rng);
// next-event estimation at a boundary point of a walk (frame t, b, n with
// n pointing out of the body, wo inside): the light from outside that the
// boundary refracts towards wo, MIS-weighted against dielectric_pdf (or 0
// for a program without light sampling).
#ifndef VITREL_MEDIUM_GLSL
#define VITREL_MEDIUM_GLSL

#include "bsdf_dielectric.glsl"
#include "material.glsl"
#include "sampling.glsl"

// ---- Absorption of transmissive bodies --------------------------------------
//
// A transmissive, non-thin body with transmission colour c and absorption
// distance d (transmission_extra, scene units) absorbs with
// sigma_a = -ln(c) / d per channel: light that travels d inside it keeps
// the fraction c (glTF KHR_materials_volume attenuation colour and
// distance). d = 0 means the colour applies at the surface instead.

// Colour components are clamped to this before the logarithm, so a black
// channel absorbs strongly but stays finite.
#define MIN_TRANSMISSION_COLOR 1e-6
// Nested transmissive bodies a path can be inside at once; entering a
// further one is not recorded (its absorption is then missed).
#define MEDIUM_STACK_SIZE 4
// Optical depth of an unbounded segment: nothing of an absorbing channel
// is left.
#define UNBOUNDED_OPTICAL_DEPTH 1e30

vec3 absorption_coefficient(ShadingMaterial m) {
    if (m.transmission <= 0.0 || m.metallic >= 1.0 || m.thin_walled || m.absorption_distance <= 0.0)
        return vec3(0.0);
    return -log(max(m.transmission_color, vec3(MIN_TRANSMISSION_COLOR))) / m.absorption_distance;
}

// The bodies a path is inside, innermost last, identified by instance.
struct MediumStack {
    int depth;
    uint body[MEDIUM_STACK_SIZE];
    vec3 sigma_a[MEDIUM_STACK_SIZE];
};

MediumStack medium_stack_empty() {
    MediumStack s;
    s.depth = 0;
    for (int i = 0; i < MEDIUM_STACK_SIZE; ++i) {
        s.body[i] = 0u;
        s.sigma_a[i] = vec3(0.0);
    }
    return s;
}

void medium_enter(inout MediumStack s, uint body, vec3 sigma_a) {
    if (s.depth >= MEDIUM_STACK_SIZE) return;
    s.body[s.depth] = body;
    s.sigma_a[s.depth] = sigma_a;
    ++s.depth;
}

// Leaves the innermost entry of `body`; a body never entered (the path
// started inside it, or the stack was full) is ignored.
void medium_leave(inout MediumStack s, uint body) {
    for (int i = s.depth - 1; i >= 0; --i) {
        if (s.body[i] != body) continue;
        for (int j = i; j + 1 < s.depth; ++j) {
            s.body[j] = s.body[j + 1];
            s.sigma_a[j] = s.sigma_a[j + 1];
        }
        --s.depth;
        return;
    }
}

// Transmittance of a segment of length `distance` through the innermost
// body (1 outside every body). A negative distance is an unbounded segment:
// a ray that escapes an open mesh from inside.
vec3 medium_transmittance(MediumStack s, float distance) {
    if (s.depth == 0) return vec3(1.0);
    vec3 sigma = s.sigma_a[s.depth - 1];
    vec3 tau = distance < 0.0 ? vec3(UNBOUNDED_OPTICAL_DEPTH) : sigma * distance;
    return mix(exp(-tau), vec3(1.0), equal(sigma, vec3(0.0)));
}

// ---- Random-walk subsurface scattering ----------------------------------------
//
// Per channel: mean free path l = subsurface_radius x subsurface_scale,
// extinction sigma_t = 1 / l; the base colour is the albedo A the body
// should show after all its internal scattering, and the single-scattering
// albedo alpha comes from A by the inversion of Chiang, Kutz and Burley
// (2016). Free flights are sampled in one channel chosen in proportion to
// the walk's current throughput, and weighted by the balance heuristic over
// the three channels (one-sample spectral MIS), so every channel stays
// unbiased. Henyey-Greenstein phase function with subsurface_ext[1];
// entry and exit through a dielectric boundary of subsurface_ext[0] and the
// material's roughness.

// Scattering events (and internal reflections) after which a walk ends
// without leaving the body.
#define MAX_WALK_STEPS 256
// Mean free paths are clamped to at least this many scene units.
#define MIN_MEAN_FREE_PATH 1e-6
// A flight that long without meeting the boundary left an open mesh.
#define WALK_FAR 1e30
// Surfaces of other instances one flight may pass inside a body before the
// next one counts as the boundary.
#define MAX_WALK_PASSES 8
// |g| below this scatters uniformly (the closed form divides by g).
#define HG_ISOTROPIC_EPS 1e-3

struct SubsurfaceMedium {
    vec3 sigma_t;
    vec3 albedo;   // single-scattering albedo
    float g;       // Henyey-Greenstein anisotropy
    float ior;     // n_inside / n_outside of the boundary
    vec2 alpha;    // GGX roughness of the boundary
};

struct MediumHit {
    bool hit;
    float t;
    uint instance;
    vec3 normal;   // geometric, unit, either side
};

MediumHit medium_trace(vec3 origin, vec3 direction, float tmax);
vec3 offset_origin(vec3 p, vec3 n, vec3 d);
vec3 medium_boundary_light(vec3 position, vec3 t, vec3 b, vec3 n, DielectricLobe boundary, vec3 wo,
                           inout uint rng);

// Single-scattering albedo of a medium whose multiple-scattering albedo is
// a (Chiang, Kutz and Burley 2016, eq. 4); 0 -> 0 and 1 -> 1.
vec3 single_scattering_albedo(vec3 a) {
    a = clamp(a, 0.0, 1.0);
    vec3 s = 4.09712 + 4.20863 * a - sqrt(9.59217 + 41.6808 * a + 17.7126 * a * a);
    return clamp(1.0 - s * s, 0.0, 1.0);
}

SubsurfaceMedium subsurface_medium(ShadingMaterial m) {
    SubsurfaceMedium med;
    vec3 l = max(m.subsurface_radius * m.subsurface_scale, vec3(MIN_MEAN_FREE_PATH));
    med.sigma_t = 1.0 / l;
    med.albedo = single_scattering_albedo(m.base_color);
    med.g = m.subsurface_anisotropy;
    med.ior = m.subsurface_ior;
    med.alpha = ggx_alphas(m.roughness, 0.0);
    return med;
}

DielectricLobe subsurface_boundary(SubsurfaceMedium med) {
    DielectricLobe b;
    b.alpha = med.alpha;
    b.eta = med.ior;
    b.spec_scale = 1.0;
    b.trans_tint = vec3(1.0);
    b.thin = false;
    b.compensate = true;
    // The medium is followed in flux: entry and exit would scale radiance
    // by eta^2 and 1 / eta^2, which cancel over a walk.
    b.radiance = false;
    return b;
}

// Direction into the body (local frame, z < 0) for a path arriving from
// wo (z > 0): refraction through a boundary microfacet. The energy that
// enters is already counted by the surface layer above; this picks only
// where it goes. Falls back to a cosine-weighted direction when the facet
// refracts nothing (boundary IOR below 1 at grazing angles).
vec3 subsurface_entry_direction(SubsurfaceMedium med, vec3 wo, vec3 u) {
    vec3 m = ggx_sample_visible(wo, med.alpha, u.yz);
    float eta_used;
    vec3 wi;
    if (refract_dir(wo, m, med.ior, eta_used, wi) && wi.z < 0.0) return wi;
    vec3 c = sample_cosine_hemisphere(u.xy);
    return vec3(c.xy, -c.z);
}

// Henyey-Greenstein direction about the propagation direction `dir`.
vec3 sample_henyey_greenstein(vec3 dir, float g, vec2 u) {
    float cos_theta;
    if (abs(g) < HG_ISOTROPIC_EPS) {
        cos_theta = 1.0 - 2.0 * u.x;
    } else {
        float s = (1.0 - g * g) / (1.0 - g + 2.0 * g * u.x);
        cos_theta = clamp((1.0 + g * g - s * s) / (2.0 * g), -1.0, 1.0);
    }
    float sin_theta = sqrt(max(0.0, 1.0 - cos_theta * cos_theta));
    float phi = TWO_PI * u.y;
    vec3 t, b;
    make_basis(dir, t, b);
    return normalize(sin_theta * cos(phi) * t + sin_theta * sin(phi) * b + cos_theta * dir);
}

// The walk's own random numbers: a hashed counter, since its length is
// unbounded and would exhaust any fixed set of sampler dimensions.
uint walk_u32(inout uint state) {
    state += 0x9e3779b9u;
    return hash_u32(state);
}
float walk_random(inout uint state) { return u32_to_unit_float(walk_u32(state)); }

// The boundary of `body` along a flight: surfaces of other instances inside
// the body (a floor the body rests in) are passed, as the walk belongs to
// this body alone.
MediumHit walk_trace(uint body, vec3 origin, vec3 dir, float flight) {
    float travelled = 0.0;
    MediumHit h;
    for (int pass = 0; pass < MAX_WALK_PASSES; ++pass) {
        h = medium_trace(origin, dir, flight - travelled);
        if (!h.hit || h.instance == body) break;
        vec3 position = origin + h.t * dir;
        vec3 next = offset_origin(position, h.normal, dir);
        travelled += h.t + distance(position, next);
        origin = next;
        if (!(travelled < flight)) {
            h.hit = false;
            break;
        }
    }
    h.t += travelled;
    return h;
}

struct WalkResult {
    bool exited;
    vec3 position;   // on the boundary
    vec3 normal;     // geometric, pointing out of the body
    vec3 direction;  // leaving the body
    vec3 weight;     // throughput of the walk, entry excluded
    float pdf;       // density of the exit direction (for MIS with light samples)
    vec3 radiance;   // light gathered at the boundary points, throughput included
};

// Walks from `origin` (just inside instance `body`) along `dir` until the
// path refracts out of the boundary, or ends after MAX_WALK_STEPS.
WalkResult subsurface_walk(SubsurfaceMedium med, uint body, vec3 origin, vec3 dir, inout uint rng) {
    WalkResult r;
    r.exited = false;
    r.position = origin;
    r.normal = -dir;
    r.direction = dir;
    r.weight = vec3(1.0);
    r.pdf = 0.0;
    r.radiance = vec3(0.0);
    vec3 sigma_s = med.albedo * med.sigma_t;
    DielectricLobe boundary = subsurface_boundary(med);
    for (int step = 0; step < MAX_WALK_STEPS; ++step) {
        float total = r.weight.x + r.weight.y + r.weight.z;
        if (!(total > 0.0)) break;
        vec3 p = r.weight / total;
        float uc = walk_random(rng);
        float sigma = uc < p.x ? med.sigma_t.x : (uc < p.x + p.y ? med.sigma_t.y : med.sigma_t.z);
        float flight = min(-log(1.0 - walk_random(rng)) / sigma, WALK_FAR);
        MediumHit h = walk_trace(body, origin, dir, flight);
        if (!h.hit) {
            if (flight >= WALK_FAR) break;
            vec3 tr = exp(-med.sigma_t * flight);
            float pdf = dot(p, med.sigma_t * tr);
            if (!(pdf > 0.0)) break;
            r.weight *= sigma_s * tr / pdf;
            origin += flight * dir;
            dir = sample_henyey_greenstein(dir, med.g, vec2(walk_random(rng), walk_random(rng)));
            continue;
        }
        vec3 tr = exp(-med.sigma_t * h.t);
        float pdf = dot(p, tr);
        if (!(pdf > 0.0)) break;
        r.weight *= tr / pdf;
        vec3 position = origin + h.t * dir;
        vec3 n = dot(dir, h.normal) > 0.0 ? h.normal : -h.normal;
        vec3 t, b;
        make_basis(n, t, b);
        vec3 wo = -vec3(dot(dir, t), dot(dir, b), dot(dir, n));
        r.radiance += r.weight * medium_boundary_light(position, t, b, n, boundary, wo, rng);
        vec3 u = vec3(walk_random(rng), walk_random(rng), walk_random(rng));
        BsdfSample s = dielectric_sample(boundary, wo, u);
        if (!s.valid) break;
        r.weight *= s.weight;
        vec3 wi = s.wi.x * t + s.wi.y * b + s.wi.z * n;
        if (s.wi.z > 0.0) {
            r.exited = true;
            r.position = position;
            r.normal = n;
            r.direction = wi;
            r.pdf = s.pdf;
            return r;
        }
        origin = offset_origin(position, n, wi);
        dir = wi;
    }
    return r;
}

#endif
