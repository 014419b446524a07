// Emission guided towards the guide targets: the bounding spheres of the
// instances that may scatter specularly (scene_params, gpu_layout.h). A
// light path counts only once it has passed a specular vertex, so with
// cosine-distributed emission most paths would end at a diffuse first hit
// for nothing. The emitted direction is drawn from a mixture: with
// probability GUIDE_FRACTION uniformly in the cone that one target subtends
// (the target chosen by solid angle), otherwise from the cosine lobe. The
// light path's weight divides by the mixture density of the direction
// whichever technique drew it, and the cosine lobe covers the whole front
// hemisphere, so any set of targets gives an unbiased estimate: a target
// without specular surfaces only costs noise.
//
// The including program declares what path_loop.glsl needs.
#ifndef VITREL_LIGHT_GUIDE_GLSL
#define VITREL_LIGHT_GUIDE_GLSL

// Share of emitted directions aimed at the targets. The cosine lobe keeps
// the rest: it carries the light that reaches specular surfaces outside
// any target, and bounds the weight of directions no cone covers. A guided
// path that reaches a target pays for its refractions and the camera
// connection, so a larger share lowers the noise per path but raises the
// light pass's cost: 0.9 lost at equal time, 0.5 and 0.75 were level
// (BENCHMARKS.md, "Guided emission").
#define GUIDE_FRACTION 0.75
// Cones narrower than this (1 - cos of the half-angle, about 2.6 degrees)
// are left out: their directions would be drawn rarely by any mixture
// share worth having, and float rounding of a drawn direction would weigh
// more against their width.
#define GUIDE_MIN_ONE_MINUS_COS 1e-3
// A drawn direction lies in its cone up to float rounding (about 1e-5 of
// the width of the narrowest cone kept); the membership test widens the
// cone by this share so that no drawn direction is judged outside, which
// would understate its density without bound. Directions in the widened
// rim are credited a density the cone does not give them: a loss of at
// most this share of the light in the rim.
#define GUIDE_CONE_MARGIN 1e-4

// The cones from one emission point: per target its axis, 1 - cos of its
// half-angle (2 when the point lies inside the sphere: every direction)
// and its selection weight, the solid angle, 0 for a target left out.
struct GuideCones {
    vec3 axis[GUIDE_TARGET_MAX];
    float one_minus_cos[GUIDE_TARGET_MAX];
    float weight[GUIDE_TARGET_MAX];
    float total;
};

// Where the targets start: after the extra-object and animation blocks.
int guide_targets_at() {
    return SP_GUIDE_TARGETS_AT(max(int(scene_params[SP_DE_COUNT]), 0), int(scene_params[SP_KEYFRAME_COUNT]));
}

// Targets present and within the array.
int guide_target_count(int at) {
    int count = clamp(int(scene_params[SP_GUIDE_COUNT]), 0, GUIDE_TARGET_MAX);
    return min(count, max(scene_params.length() - at, 0) / GUIDE_TARGET_FLOATS);
}

// The cones of the targets seen from point x of a surface with normal n.
// A cone wholly below the surface gets weight 0: nothing it holds leaves
// the front side.
GuideCones guide_cones(vec3 x, vec3 n) {
    GuideCones g;
    g.total = 0.0;
    int at = guide_targets_at();
    int count = guide_target_count(at);
    for (int k = 0; k < GUIDE_TARGET_MAX; ++k) {
        g.axis[k] = n;
        g.one_minus_cos[k] = 0.0;
        g.weight[k] = 0.0;
        if (k >= count) continue;
        int block = at + GUIDE_TARGET_FLOATS * k;
        vec3 to_centre = params_vec3(block) - x;
        float radius = scene_params[block + 3];
        float d2 = dot(to_centre, to_centre);
        if (!(radius > 0.0) || isinf(d2) || isnan(d2)) continue;
        float r2 = radius * radius;
        if (d2 <= r2) {
            g.one_minus_cos[k] = 2.0;
        } else {
            float sin2 = r2 / d2;
            vec3 axis = to_centre * inversesqrt(d2);
            if (dot(axis, n) <= -sqrt(sin2)) continue;
            float one_minus_cos = sin2 / (1.0 + sqrt(1.0 - sin2));
            if (!(one_minus_cos >= GUIDE_MIN_ONE_MINUS_COS)) continue;
            g.axis[k] = axis;
            g.one_minus_cos[k] = one_minus_cos;
        }
        g.weight[k] = TWO_PI * g.one_minus_cos[k];
        g.total += g.weight[k];
    }
    return g;
}

// A direction uniformly in cone k of `g`, from the unit square point u.
vec3 guide_cone_sample(GuideCones g, int k, vec2 u) {
    float one_minus_cos = u.x * g.one_minus_cos[k];
    float cos_theta = 1.0 - one_minus_cos;
    float sin_theta = sqrt(max(0.0, one_minus_cos * (2.0 - one_minus_cos)));
    float phi = TWO_PI * u.y;
    ShadingFrame f;
    f.n = g.axis[k];
    make_basis(f.n, f.t, f.b);
    return to_world(f, vec3(sin_theta * cos(phi), sin_theta * sin(phi), cos_theta));
}

// Density (solid angle) of unit direction w under the targets' share of
// the mixture, before GUIDE_FRACTION: each cone holding w adds its choice
// probability weight / total times its density 1 / weight. 1 - cos of w's
// angle to an axis is |w - axis|^2 / 2, which keeps its precision in
// narrow cones.
float guide_cones_pdf(GuideCones g, vec3 w) {
    float holding = 0.0;
    for (int k = 0; k < GUIDE_TARGET_MAX; ++k) {
        if (!(g.weight[k] > 0.0)) continue;
        vec3 off = w - g.axis[k];
        if (0.5 * dot(off, off) <= g.one_minus_cos[k] * (1.0 + GUIDE_CONE_MARGIN)) holding += 1.0;
    }
    return holding / g.total;
}

// An emitted direction at point x with normal n (frame f), drawn from the
// mixture with u_choice (technique and target) and u (direction), and its
// density. Directions below the surface come with density 0 for the
// caller to drop.
vec3 guided_emission_direction(vec3 x, ShadingFrame f, float u_choice, vec2 u, out float pdf) {
    GuideCones g = guide_cones(x, f.n);
    float share = g.total > 0.0 ? GUIDE_FRACTION : 0.0;
    vec3 w;
    if (u_choice < share) {
        float pick = (u_choice / share) * g.total;
        int chosen = -1;
        for (int k = 0; k < GUIDE_TARGET_MAX; ++k) {
            if (!(g.weight[k] > 0.0)) continue;
            chosen = k;
            if (pick < g.weight[k]) break;
            pick -= g.weight[k];
        }
        w = normalize(guide_cone_sample(g, chosen, u));
    } else {
        w = to_world(f, sample_cosine_hemisphere(u));
    }
    float cos_theta = dot(w, f.n);
    pdf = cos_theta > 0.0 ? (1.0 - share) * cos_theta * INV_PI + (share > 0.0 ? share * guide_cones_pdf(g, w) : 0.0)
                          : 0.0;
    return w;
}

#endif
