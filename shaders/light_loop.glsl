// Light tracing for caustics: one light path per call, started on an
// emissive triangle or the environment chosen by power, carried through
// specular vertices with the adjoint BSDF to a first non-specular vertex D,
// and on from there through any vertices; it is connected to the camera
// and splatted into the light accumulation at D and at every later
// non-specular vertex. Light paths thus supply exactly the paths "light,
// one or more specular vertices, D, any vertices, camera" that the eye
// paths leave out (path_partition.glsl, README.md).
//
// Normalisation: a dispatch runs one light path per render pixel and
// sample, so each splat is divided by the render pixel count; read-out
// divides the accumulation by the sample count. A splat reaches every
// pixel whose filter window (the eye paths' Blackman-Harris window of
// FILTER_WIDTH pixels, normalised to unit integral) covers the film point,
// with that window's weight: the same measurement the eye paths estimate
// by filter importance sampling.
//
// The including program declares what path_loop.glsl needs, with
// trace_payload from ray_query_trace.glsl.
#ifndef VITREL_LIGHT_LOOP_GLSL
#define VITREL_LIGHT_LOOP_GLSL

#include "path_loop.glsl"
#include "light_guide.glsl"

// Sampler pairs of light paths, far above any eye-path pair (those end at
// CAMERA_PAIRS + VERTEX_PAIRS * MAX_PATH_VERTICES), so that the two
// estimators of a pixel and sample are independent.
#define LIGHT_PAIR_BASE 4096u
#define LPAIR_SELECT 0u     // light (32-bit)
#define LPAIR_POINT 1u      // emitter triangle and point on it, or environment texel
#define LPAIR_DIRECTION 2u  // emitted direction, or point on the disk
#define LPAIR_TIME 3u       // keyframe time, drawn only for an animated camera
#define LPAIR_LENS 4u
#define LPAIR_GUIDE 5u      // guided or cosine emission, and the target
#define LIGHT_PATH_PAIRS 6u
#define LVERTEX_DIRECTION 0u
#define LVERTEX_LOBE 1u  // lobe choice, Russian roulette
#define LIGHT_VERTEX_PAIRS 2u
// Stochastic transparency of light paths hashes vertex numbers from here
// on, apart from the eye paths' numbers.
#define LIGHT_ALPHA_VERTEX_BASE 0x10000u

uint light_pair(uint which) { return LIGHT_PAIR_BASE + which; }
uint light_vertex_pair(uint vertex, uint which) {
    return LIGHT_PAIR_BASE + LIGHT_PATH_PAIRS + vertex * LIGHT_VERTEX_PAIRS + which;
}

// Counts a light path whose contribution was not finite at `pixel`.
void count_dropped_light_path(uvec2 pixel) { atomicAdd(light_accum[pixel.y * pc.width + pixel.x].w, 1); }

// Adds `steps` to one channel without ever passing LIGHT_ACCUM_MAX. Values
// and steps are never negative, so the result is min(sum, max) in any order.
int saturating_add_step(int current, int steps) {
    return current > LIGHT_ACCUM_MAX - steps ? LIGHT_ACCUM_MAX : current + steps;
}

#define SATURATING_ADD(CHANNEL, STEPS)                                              \
    if ((STEPS) > 0) {                                                              \
        int seen = light_accum[index].CHANNEL;                                      \
        for (;;) {                                                                  \
            int next = saturating_add_step(seen, (STEPS));                          \
            if (next == seen) break;                                                \
            int before = atomicCompSwap(light_accum[index].CHANNEL, seen, next);    \
            if (before == seen) break;                                              \
            seen = before;                                                          \
        }                                                                           \
    }

// Radiance `value` into render pixel `target`, in fixed point with
// stochastic rounding by `u` (unbiased for splats below one step).
void splat_light(uvec2 target, vec3 value, float u) {
    uint index = target.y * pc.width + target.x;
    ivec3 steps = ivec3(floor(min(value / float(LIGHT_ACCUM_SCALE), vec3(float(LIGHT_SPLAT_MAX))) + u));
    steps = clamp(steps, ivec3(0), ivec3(LIGHT_SPLAT_MAX));
    SATURATING_ADD(x, steps.x)
    SATURATING_ADD(y, steps.y)
    SATURATING_ADD(z, steps.z)
}

// The filter window per axis at offset d pixels from a pixel centre: the
// density filter_offset draws from.
float filter_weight(float d) {
    float t = d / FILTER_WIDTH;
    return abs(t) < 0.5 ? bh_density(t) / FILTER_WIDTH : 0.0;
}

// Where the camera sees world point x through lens point `lens_point`: the
// film position in render pixels and the importance factor l^2 / (pixel
// area on the image plane x cos^3), l the image plane's distance; false
// behind the camera. The eye's rays through one film point meet on the
// plane in focus (pinhole: at the eye), which fixes the film point of any
// lens point.
bool camera_film_point(Camera c, vec3 lens_point, bool thin_lens, vec3 x, vec2 size, out vec2 film,
                       out float importance) {
    film = vec2(0.0);
    importance = 0.0;
    vec3 centre = c.lower_left + 0.5 * c.horizontal + 0.5 * c.vertical - c.position;
    vec3 axis = normalize(cross(c.horizontal, c.vertical));
    if (dot(axis, centre) < 0.0) axis = -axis;
    float plane = dot(centre, axis);
    vec3 v = x - lens_point;
    float along = dot(v, axis);
    if (!(along > 0.0) || !(plane > 0.0)) return false;
    float focus = thin_lens ? c.focus_distance : 1.0;
    vec3 d = (lens_point - c.position + v * (focus * plane / along)) / focus;
    vec3 q = d - (c.lower_left - c.position);
    float a = dot(q, c.horizontal) / dot(c.horizontal, c.horizontal);
    float b = dot(q, c.vertical) / dot(c.vertical, c.vertical);
    film = vec2(a * size.x, (1.0 - b) * size.y);
    float pixel_area = length(c.horizontal) / size.x * length(c.vertical) / size.y;
    float cos_theta = along / length(v);
    importance = plane * plane / (pixel_area * cos_theta * cos_theta * cos_theta);
    return importance > 0.0 && !isinf(importance);
}

// Connects light-path vertex D (surface s, hit `hit`, light arriving from
// direction wl with throughput beta) to the camera and splats the result.
// D is shaded exactly as the eye path's first vertex would be: frame,
// material and BSDF set up from the camera's side, f(wc, wl).
void connect_to_camera(uvec2 pixel, uint sample_index, Surface s, HitPayload hit, vec3 wl, vec3 beta,
                       float time01, float time) {
    vec2 size = vec2(pc.width, pc.height);
    Camera c = camera_at(time, size.x / size.y);
    bool thin_lens = c.lens_radius > 0.0 && c.focus_distance > 0.0;
    vec3 lens_point = c.position;
    if (thin_lens) {
        vec2 disk = c.lens_radius * sample_disk_concentric(sample_2d(pixel, sample_index, light_pair(LPAIR_LENS)));
        lens_point += disk.x * normalize(c.horizontal) + disk.y * normalize(c.vertical);
    }
    vec2 film;
    float importance;
    if (!camera_film_point(c, lens_point, thin_lens, s.position, size, film, importance)) return;
    // Pixels whose window reaches the film point.
    ivec2 first = ivec2(floor(film - 0.5 - 0.5 * FILTER_WIDTH)) + 1;
    ivec2 last = ivec2(floor(film - 0.5 + 0.5 * FILTER_WIDTH));
    first = max(first, ivec2(0));
    last = min(last, ivec2(size) - 1);
    if (any(greaterThan(first, last))) return;

    vec3 to_camera = lens_point - s.position;
    float dist2 = dot(to_camera, to_camera);
    if (!(dist2 > 0.0)) return;
    float dist = sqrt(dist2);
    vec3 wc = to_camera / dist;
    ShadingPoint sp = shading_point(s, hit, wc, time);
    vec3 wc_local = to_local(sp.frame, wc);
    vec3 wl_local = to_local(sp.frame, wl);
    bool reflects = wl_local.z * wc_local.z > 0.0;
    if (reflects != (dot(wl, sp.ng) * sp.wo_side > 0.0)) return;
    PrincipledBsdf bsdf = principled_setup(sp.m, wc_local, true);
    vec3 fcos = principled_eval(bsdf, wc_local, wl_local);
    if (!any(greaterThan(fcos, vec3(0.0)))) return;
    // f(wc, wl) |wl.ns| / |wl.ng| is the eye path's factor with shading
    // normals; |wc.ng| / dist^2 turns D's area into the camera's solid angle.
    vec3 value = beta * fcos * (abs(dot(wc, sp.ng)) / (abs(dot(wl, sp.ng)) * dist2)) *
                 (importance / (size.x * size.y));
    if (any(isnan(value)) || any(isinf(value))) {
        count_dropped_light_path(pixel);
        return;
    }
    float tmax = dist * (1.0 - RAY_OFFSET_SCALE) - ray_offset(s.position);
    float visible = shadow_transmittance(offset_origin(s.position, sp.ng, wc), wc, tmax, time01);
    if (!(visible > 0.0)) return;
    value *= visible;
    // Stochastic rounding needs no stratification: a hash is enough.
    float u = u32_to_unit_float(hash_combine(hash_combine(hash_u32(pixel.x ^ 0x5bd1e995u), pixel.y), sample_index));
    for (int y = first.y; y <= last.y; ++y) {
        float wy = filter_weight(film.y - (float(y) + 0.5));
        for (int x = first.x; x <= last.x; ++x) {
            float w = wy * filter_weight(film.x - (float(x) + 0.5));
            if (w > 0.0) splat_light(uvec2(x, y), value * w, u);
        }
    }
}

// A ray arriving from the environment: its direction drawn as next-event
// estimation draws it (from the pair LPAIR_POINT), its origin uniformly on the disk of
// the scene's bounding sphere that faces that direction, so every ray from
// the environment that can meet the scene is drawn with non-zero density.
// `beta` is Le / (direction density x (1 / disk area)); the disk faces the
// ray, so no cosine.
bool emit_from_environment(uvec2 pixel, uint sample_index, uint count, out vec3 position, out vec3 normal,
                           out vec3 direction, out vec3 beta) {
    position = vec3(0.0);
    normal = vec3(0.0, 0.0, 1.0);
    direction = normal;
    beta = vec3(0.0);
    if (!environment_emits_light_paths(count)) return false;
    uvec2 texel = sample_pair_u32(pixel, sample_index, light_pair(LPAIR_POINT));
    LightSample ls = sample_environment(texel, light_probability(count, count - 1u));
    if (!ls.valid || !any(greaterThan(ls.radiance, vec3(0.0)))) return false;
    vec3 centre = vec3(scene_params[SP_BOUNDS_CENTRE], scene_params[SP_BOUNDS_CENTRE + 1],
                       scene_params[SP_BOUNDS_CENTRE + 2]);
    float radius = scene_params[SP_BOUNDS_RADIUS];
    ShadingFrame f;
    f.n = ls.direction;
    make_basis(f.n, f.t, f.b);
    vec2 disk = radius * sample_disk_concentric(sample_2d(pixel, sample_index, light_pair(LPAIR_DIRECTION)));
    position = centre + radius * ls.direction + disk.x * f.t + disk.y * f.b;
    direction = -ls.direction;
    normal = direction;
    beta = ls.radiance * (PI * radius * radius / ls.pdf);
    return !any(isinf(beta)) && !any(isnan(beta));
}

// A point and direction leaving a light chosen as next-event estimation
// chooses lights (by power): on the environment as emit_from_environment
// draws them, on an emissive triangle by area, with the emitted direction
// drawn from the mixture of light_guide.glsl (cosine lobe about the front
// side and cones towards the guide targets). `beta` is Le cos / (position
// density x direction density).
bool emit_light(uvec2 pixel, uint sample_index, float time01, float time, out vec3 position, out vec3 normal,
                out vec3 direction, out vec3 beta) {
    position = vec3(0.0);
    normal = vec3(0.0, 0.0, 1.0);
    direction = normal;
    beta = vec3(0.0);
    uint count = light_count();
    if (count == 0u) return false;
    uint i = light_cdf_search(0u, count, sample_1d_u32(pixel, sample_index, light_pair(LPAIR_SELECT)));
    if (environment_is_light(count) && i == count - 1u)
        return emit_from_environment(pixel, sample_index, count, position, normal, direction, beta);
    GpuEmissive e;
    if (!emissive_record(count, i, e)) return false;
    float tri_choice;
    vec3 b;
    uint tri = emissive_point_sample(e, sample_pair_u32(pixel, sample_index, light_pair(LPAIR_POINT)),
                                     tri_choice, b);
    float choice = light_probability(count, i) * tri_choice;
    GpuInstance inst;
    uvec3 local;
    vec3 q0, q1, q2;
    if (!emissive_triangle(e, int(tri), time01, inst, local, q0, q1, q2)) return false;
    vec3 n = cross(q1 - q0, q2 - q0);
    float area = 0.5 * length(n);
    if (!(area > 0.0) || !(choice > 0.0)) return false;
    position = b.x * q0 + b.y * q1 + b.z * q2;
    normal = n / (2.0 * area);
    vec2 uv;
    bool has_uv = triangle_uv(inst, local, b.yz, uv);
    vec3 emitted = eval_emission(triangle_material(inst, int(tri)), uv, has_uv, time);
    if (!any(greaterThan(emitted, vec3(0.0)))) return false;
    ShadingFrame f;
    f.n = normal;
    make_basis(normal, f.t, f.b);
    float u_choice = sample_1d(pixel, sample_index, light_pair(LPAIR_GUIDE));
    vec2 u = sample_2d(pixel, sample_index, light_pair(LPAIR_DIRECTION));
    float pdf;
    direction = guided_emission_direction(position, f, u_choice, u, pdf);
    float cos_theta = dot(direction, normal);
    if (!(pdf > 0.0) || !(cos_theta > 0.0)) return false;
    // Le cos / ((choice / area) pdf).
    beta = emitted * (cos_theta * area / (choice * pdf));
    return !any(isinf(beta)) && !any(isnan(beta));
}

// One light path for render pixel `pixel` and sample `sample_index`.
void trace_light_path(uvec2 pixel, uint sample_index, uint trace_param) {
    uint max_bounces = trace_bounce_limit(trace_param);
    // The eye path collects an emitter behind its vertices 0 .. k - 1 only
    // when k <= limit (vertices 0 .. limit - 1 shade); a light path
    // connects at its k-th vertex under the same bound.
    uint limit = max_bounces == 0u ? uint(MAX_PATH_VERTICES) : min(max_bounces + 1u, uint(MAX_PATH_VERTICES));
    // Static programs see the scene at shutter open whatever the time; only
    // the camera's keyframes need a sampled time.
    float time01 = camera_keyframe_count() > 0 ? sample_1d(pixel, sample_index, light_pair(LPAIR_TIME)) : 0.0;
    float time = camera_sample_time(time01);
    vec3 position, normal, dir, beta;
    if (!emit_light(pixel, sample_index, time01, time, position, normal, dir, beta)) return;
    float beta_scale = max3(beta);
    vec3 origin = offset_origin(position, normal, dir);
    uint count = 0u;           // vertices of the path so far
    uint layer = 0u;
    MediumStack media = medium_stack_empty();
    for (;;) {
        trace_payload(origin, dir, RAY_FAR, gl_RayFlagsOpaqueEXT, MISS_INDEX_EYE, time01);
        if (payload.t < 0.0) return;
        if (program_has(PROGRAM_FEATURE_TRANSMISSION)) beta *= medium_transmittance(media, payload.t);
        HitPayload hit = payload;
        Surface s = surface_at(hit, origin, dir);
        if (!eye_ray_stops(s.material, pixel, sample_index, LIGHT_ALPHA_VERTEX_BASE + count, layer)) {
            if (++layer > uint(MAX_ALPHA_LAYERS)) return;
            origin = offset_origin(s.position, s.geometric_normal, dir);
            continue;
        }
        layer = 0u;
        vec3 wo = -dir;
        // Most light paths end at their first hit: classify before
        // building the frame. Paths that meet a non-specular vertex first
        // are the eye paths' (next-event estimation finds them), and so is
        // everything behind a vertex light paths cannot pass.
        ShadingMaterial material = surface_material(s, time);
        bool specular = vertex_is_specular(material);
        if (!specular && (count == 0u || !vertex_connects_to_camera(material))) return;
        if (++count > limit) return;
        // Every non-specular vertex from the first one on is, in turn, the
        // vertex the camera sees: the path "light, specular vertices,
        // non-specular vertex, any vertices, this vertex, camera".
        if (!specular) connect_to_camera(pixel, sample_index, s, hit, wo, beta, time01, time);
        if (count >= limit) return;
        ShadingPoint sp = shading_point(s, hit, wo, time);

        // The adjoint BSDF f*(wo, wi) = f(wi, wo) of the reciprocal layers
        // (bsdf_common.glsl): radiance = false leaves out the 1 / eta^2
        // that refracted radiance takes on and importance does not.
        vec3 wo_local = to_local(sp.frame, wo);
        PrincipledBsdf bsdf = principled_setup(sp.m, wo_local, false);
        uint vertex = count - 1u;
        vec2 lobe_rr = sample_2d(pixel, sample_index, light_vertex_pair(vertex, LVERTEX_LOBE));
        vec2 direction_u = sample_2d(pixel, sample_index, light_vertex_pair(vertex, LVERTEX_DIRECTION));
        BsdfSample bs = principled_sample(bsdf, wo_local, vec3(lobe_rr.x, direction_u));
        if (!bs.valid) return;
        vec3 wi = to_world(sp.frame, bs.wi);
        bool reflects = bs.wi.z * wo_local.z > 0.0;
        if (!sp.is_interface && reflects != (dot(wi, sp.ng) * sp.wo_side > 0.0)) return;
        // Crossing an interface enters or leaves its body, as for eye paths.
        if (sp.is_interface && dot(wi, sp.ng) * sp.wo_side < 0.0) {
            if (sp.wo_side > 0.0) {
                medium_enter(media, s.instance, absorption_coefficient(sp.m));
            } else {
                medium_leave(media, s.instance);
            }
        }
        // Shading normals are not symmetric: the adjoint carries
        // |wo.ns| |wi.ng| / (|wo.ng| |wi.ns|).
        float denominator = abs(dot(wo, sp.ng)) * abs(bs.wi.z);
        if (!(denominator > 0.0)) return;
        beta *= bs.weight * (abs(wo_local.z) * abs(dot(wi, sp.ng)) / denominator);
        // A black surface ends the light path, as it ends an eye path.
        if (all(equal(beta, vec3(0.0)))) return;
        if (count >= uint(RR_START_VERTEX)) {
            float survive = min(max3(beta) / beta_scale, RR_MAX_SURVIVAL);
            if (!(lobe_rr.y < survive)) return;
            beta /= survive;
        }
        origin = offset_origin(s.position, sp.ng, wi);
        dir = wi;
    }
}

#endif
