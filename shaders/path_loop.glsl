// The eye-path integrator: one camera path per call, shaded entirely in the
// ray-generation program from the closest-hit records.
//
// At every path vertex: emission seen by the incoming ray (front sides
// only), next-event estimation through sample_light, and a BSDF sample that
// continues the path. Emission found by a BSDF ray and light found by
// next-event estimation are combined with the power heuristic; what the
// camera ray itself sees counts fully, once.
//
// Media (medium.glsl): segments inside transmissive bodies are attenuated
// by their absorption, and a subsurface lobe sends the path on a random
// walk through the body; the path continues from where the walk leaves it.
//
// Bounce limit: with B = the trace parameter's bounce bits > 0, vertices 0
// (the first camera hit) to B get next-event estimation and the BSDF ray
// leaving vertex B still collects MIS-weighted emission (or environment);
// B = 0 means no limit but Russian roulette and MAX_PATH_VERTICES. With
// light tracing on, emitters behind "a non-specular vertex, then specular
// vertices only" are left to the light paths when vertex 0 and every
// non-specular vertex are ones light paths reach (path_partition.glsl).
//
// The including program declares the payload at PAYLOAD_LOCATION as
// `payload`, `tlas`, and everything surface.glsl, light_sampling.glsl,
// principled.glsl and the material unit need, and sets
// `path_object_linear` use through VITREL_OBJECT_TO_WORLD.
#ifndef VITREL_PATH_LOOP_GLSL
#define VITREL_PATH_LOOP_GLSL

#include "bound_length.glsl"

#include "camera.glsl"
#include "light_sampling.glsl"
#include "path_partition.glsl"
#include "principled.glsl"
#include "sampling.glsl"
#include "surface.glsl"

// Hard cap on path vertices when no bounce limit is set.
#define MAX_PATH_VERTICES 64
// Russian roulette starts at this vertex and keeps an eye path with
// probability min(sqrt(max throughput component), RR_MAX_SURVIVAL). The
// square root lets dim paths go on longer than the throughput alone would:
// on the Cornell box it gave 9 % more efficiency (1 / (error^2 x time)) than
// the throughput itself, while starting at vertex 1 lost 5 % and no roulette
// (paths to the bounce limit) lost 14 %.
#define RR_START_VERTEX 3
#define RR_MAX_SURVIVAL 0.95
// Transparent (alpha) surfaces a ray may pass before it counts as blocked.
#define MAX_ALPHA_LAYERS 16
// Ray origins move off the surface by this fraction of their magnitude
// (plus the same absolute amount), which clears the hit point's rounding.
#define RAY_OFFSET_SCALE 2e-5
#define RAY_FAR 1e30

// Sampler dimension pairs: three for the camera sample, then four per path
// vertex.
#define PAIR_FILTER 0u
#define PAIR_LENS 1u
#define PAIR_TIME 2u
#define CAMERA_PAIRS 3u
#define PAIR_LIGHT_SELECT 0u  // light (32-bit)
#define PAIR_LIGHT_POINT 1u   // emitter triangle and point on it, or environment texel
#define PAIR_BSDF_DIRECTION 2u
#define PAIR_BSDF_LOBE 3u     // lobe choice, Russian roulette
#define VERTEX_PAIRS 4u

uint vertex_pair(uint vertex, uint which) { return CAMERA_PAIRS + vertex * VERTEX_PAIRS + which; }

// Shutter and keyframe times of the current path, for subsurface walks.
float path_time01 = 0.0;
float path_time = 0.0;

// Compute programs bring their own (ray_query_trace.glsl).
#ifndef VITREL_TRACE_PAYLOAD_DEFINED
// Rays traced by the current path (for TRACE_EXTRA_RAY_COUNT).
uint path_rays = 0u;

void trace_payload(vec3 origin, vec3 direction, float tmax, uint flags, uint miss, float time01) {
    if (!ray_is_traceable(origin, direction, tmax)) {
        payload.t = PAYLOAD_MISS;
        return;
    }
    ++path_rays;
#ifdef HAS_NV_MOTION_BLUR
    traceRayMotionNV(tlas, flags, 0xFF, 0, 0, miss, origin, 0.0, direction, tmax, time01, PAYLOAD_LOCATION);
#else
    traceRayEXT(tlas, flags, 0xFF, 0, 0, miss, origin, 0.0, direction, tmax, PAYLOAD_LOCATION);
#endif
}
#endif

float ray_offset(vec3 p) {
    vec3 a = abs(p);
    return RAY_OFFSET_SCALE * (1.0 + max(a.x, max(a.y, a.z)));
}

// p moved off the surface with geometric normal n towards direction d.
vec3 offset_origin(vec3 p, vec3 n, vec3 d) { return p + (dot(d, n) >= 0.0 ? n : -n) * ray_offset(p); }

#include "medium.glsl"

// The closest surface along a segment of a subsurface walk.
MediumHit medium_trace(vec3 origin, vec3 direction, float tmax) {
    trace_payload(origin, direction, tmax, gl_RayFlagsOpaqueEXT, MISS_INDEX_EYE, path_time01);
    MediumHit h;
    h.hit = payload.t >= 0.0;
    h.t = payload.t;
    h.instance = payload.instance;
    h.normal = h.hit ? surface_at(payload, origin, direction).geometric_normal : -direction;
    return h;
}

// Seed of the random numbers of the walk that starts at `vertex`.
uint walk_seed(uvec2 pixel, uint sample_index, uint vertex) {
    return hash_combine(hash_combine(hash_combine(seeded_hash(pixel.x ^ 0x5bd1e995u), pixel.y), sample_index), vertex);
}

// Share of light an alpha surface lets through: 1 when it is cut out, 0
// when it is opaque, 1 - alpha for blended surfaces.
float material_clearness(int mid) {
    int mode = gmat_alpha_mode(mid);
    float alpha = sane_clamp(gmat_alpha(mid), 0.0, 1.0, 1.0);
    if (mode == 1) return alpha >= sane_clamp(gmat_alpha_cutoff(mid), 0.0, 1.0, 0.5) ? 0.0 : 1.0;
    if (mode == 2) return 1.0 - alpha;
    return 0.0;
}

int hit_material(HitPayload hit) {
    if (hit.instance >= uint(BOUND_LENGTH(instance_info))) return -1;
    return triangle_material(instance_info[hit.instance], hit.primitive);
}

// Transmittance from `origin` along `dir` up to `tmax`: 0 behind an opaque
// surface, the product of clearness over alpha surfaces otherwise. The
// first trace stops at any hit; only when that hit is not opaque is the
// segment walked hit by hit.
float shadow_transmittance(vec3 origin, vec3 dir, float tmax, float time01) {
    uint flags = gl_RayFlagsOpaqueEXT | gl_RayFlagsTerminateOnFirstHitEXT;
    trace_payload(origin, dir, tmax, flags, MISS_INDEX_SHADOW, time01);
    if (payload.t < 0.0) return 1.0;
    if (gmat_alpha_mode(hit_material(payload)) == 0) return 0.0;
    float transmittance = 1.0;
    for (int layer = 0; layer < MAX_ALPHA_LAYERS; ++layer) {
        trace_payload(origin, dir, tmax, gl_RayFlagsOpaqueEXT, MISS_INDEX_SHADOW, time01);
        if (payload.t < 0.0) return transmittance;
        transmittance *= material_clearness(hit_material(payload));
        if (!(transmittance > 0.0)) return 0.0;
        float step = payload.t + ray_offset(origin + payload.t * dir);
        origin += step * dir;
        tmax -= step;
        if (!(tmax > 0.0)) return transmittance;
    }
    return 0.0;
}

// Shadow-ray end for a light sample from `p`: short of the light by the
// offset, or unbounded for the environment.
float light_tmax(vec3 p, LightSample light) {
    return isinf(light.distance) ? RAY_FAR : light.distance * (1.0 - RAY_OFFSET_SCALE) - ray_offset(p);
}

vec3 medium_boundary_light(vec3 position, vec3 t, vec3 b, vec3 n, DielectricLobe boundary, vec3 wo,
                           inout uint rng) {
    uint select = walk_u32(rng);
    uvec2 point = uvec2(walk_u32(rng), walk_u32(rng));
    LightSample light = sample_light(position, select, point, path_time01, path_time);
    if (!light.valid || !any(greaterThan(light.radiance, vec3(0.0))) || dot(light.direction, n) <= 0.0)
        return vec3(0.0);
    vec3 wi = vec3(dot(light.direction, t), dot(light.direction, b), dot(light.direction, n));
    vec3 fcos = dielectric_eval(boundary, wo, wi);
    if (!any(greaterThan(fcos, vec3(0.0)))) return vec3(0.0);
    vec3 o = offset_origin(position, n, light.direction);
    float visible = shadow_transmittance(o, light.direction, light_tmax(position, light), path_time01);
    if (!(visible > 0.0)) return vec3(0.0);
    float w = mis_power1(light.pdf, dielectric_pdf(boundary, wo, wi));
    return fcos * light.radiance * (visible * w / light.pdf);
}

// Uniform number for stochastic transparency: a hash, not a sampler
// dimension, since the number of layers a ray meets is unbounded.
float alpha_random(uvec2 pixel, uint sample_index, uint vertex, uint layer) {
    uint h = hash_combine(hash_combine(hash_combine(seeded_hash(pixel.x ^ 0xa511e9b3u), pixel.y), sample_index),
                          (vertex << 8) ^ layer);
    return u32_to_unit_float(h);
}

// Whether an eye ray stops at a hit of material `mid`.
bool eye_ray_stops(int mid, uvec2 pixel, uint sample_index, uint vertex, uint layer) {
    int mode = gmat_alpha_mode(mid);
    if (mode == 0) return true;
    float alpha = sane_clamp(gmat_alpha(mid), 0.0, 1.0, 1.0);
    if (mode == 1) return alpha >= sane_clamp(gmat_alpha_cutoff(mid), 0.0, 1.0, 0.5);
    if (mode == 2) return alpha_random(pixel, sample_index, vertex, layer) < alpha;
    return true;
}

struct ShadingFrame {
    vec3 t;
    vec3 b;
    vec3 n;
};
vec3 to_local(ShadingFrame f, vec3 w) { return vec3(dot(w, f.t), dot(w, f.b), dot(w, f.n)); }
vec3 to_world(ShadingFrame f, vec3 w) { return w.x * f.t + w.y * f.b + w.z * f.n; }

float max3(vec3 v) { return max(v.x, max(v.y, v.z)); }

// A surface ready for BSDF work, seen from direction wo.
struct ShadingPoint {
    ShadingMaterial m;
    ShadingFrame frame;
    vec3 ng;            // geometric normal, on the side of wo unless an interface
    bool is_interface;  // interfaces keep their outside on the front
    float wo_side;      // dot(wo, ng)
};

// The material parameters at the hit, textures and expressions evaluated.
ShadingMaterial surface_material(Surface s, float time) {
    vec3 albedo = eval_albedo(s.material, s.uv, s.has_uv, time);
    float roughness = eval_roughness(s.material, s.uv, s.has_uv, time);
    float metallic = eval_metallic(s.material, s.uv, s.has_uv, time);
    return decode_material(s.material, albedo, roughness, metallic, vec3(0.0));
}

ShadingPoint shading_point(Surface s, HitPayload hit, vec3 wo, float time) {
    ShadingPoint p;
    path_object_linear = payload_linear(hit);
    p.m = surface_material(s, time);
    vec3 ng = s.geometric_normal;
    vec3 ns = dot(s.shading_normal, ng) < 0.0 ? -s.shading_normal : s.shading_normal;
    ns = eval_normal_map(s.material, s.uv, s.has_uv, time, ns, ng, s.instance, s.primitive, s.barycentrics);
    // Interfaces keep their outside on the front; everything else turns
    // towards the viewer.
    p.is_interface = p.m.transmission > 0.0 && p.m.metallic < 1.0 && !p.m.thin_walled;
    if (!p.is_interface && dot(wo, ng) < 0.0) {
        ng = -ng;
        ns = -ns;
    }
    if (dot(wo, ns) * dot(wo, ng) <= 0.0 || any(isnan(ns))) ns = ng;
    p.frame.n = ns;
    vec3 tangent;
    if (p.m.anisotropy > 0.0 && read_tangent(s.instance, s.primitive, s.barycentrics, tangent)) {
        p.frame.t = normalize(tangent - dot(tangent, ns) * ns);
        p.frame.b = cross(ns, p.frame.t);
        if (any(isnan(p.frame.t))) make_basis(ns, p.frame.t, p.frame.b);
    } else {
        make_basis(ns, p.frame.t, p.frame.b);
    }
    p.ng = ng;
    p.wo_side = dot(wo, ng);
    return p;
}

// The camera ray of a sample, and its shutter and keyframe times.
void camera_sample(uvec2 pixel, uint sample_index, vec2 render_size, out vec3 origin, out vec3 dir,
                   out float time01, out float time) {
    vec2 f = sample_2d(pixel, sample_index, PAIR_FILTER);
    vec2 film = vec2(pixel) + 0.5 + vec2(filter_offset(f.x), filter_offset(f.y));
    time01 = sample_1d(pixel, sample_index, PAIR_TIME);
    time = camera_sample_time(time01);
    Camera camera = camera_at(time, render_size.x / render_size.y);
    camera_ray(camera, film, render_size, sample_2d(pixel, sample_index, PAIR_LENS), origin, dir);
}

// 1 when the camera ray of the sample hits anything (no shading).
float trace_primary_only(uvec2 pixel, uint sample_index, vec2 render_size) {
    vec3 origin, dir;
    float time01, time;
    camera_sample(pixel, sample_index, render_size, origin, dir, time01, time);
    trace_payload(origin, dir, RAY_FAR, gl_RayFlagsOpaqueEXT, MISS_INDEX_EYE, time01);
    return payload.t < 0.0 ? 0.0 : 1.0;
}

// One eye path between two of its rays. Keeping the whole state in one
// record lets a program run several camera samples in turn: eye_path.rgen
// starts a pixel's next sample as soon as a path ends, instead of leaving
// its SIMD lane idle until the longest path of the lane's group ends.
struct EyePath {
    uvec2 pixel;
    uint sample_index;
    uint limit;               // vertices that shade
    bool light_tracing;
    // Every non-specular vertex so far, vertex 0 first, is one a light path
    // can connect to the camera from and pass (path_partition.glsl).
    bool light_reachable;
    // light_reachable, and the vertices since the last non-specular one
    // specular: emitters found from a specular vertex of such a chain
    // belong to the light paths.
    bool caustic_chain;
    bool light_owned;
    vec3 origin;              // of the next ray
    vec3 dir;
    float time01;             // shutter time
    float time;               // keyframe time
    vec3 radiance;
    vec3 throughput;
    float bsdf_pdf;           // density of the BSDF sample that made `dir`
    bool delta_bounce;        // `dir` is a delta sample: no MIS
    vec3 previous;            // the vertex `dir` left from
    uint layer;               // alpha surfaces passed by the current ray
    uint vertex;
    MediumStack media;
};

// Camera sample `sample_index` of render pixel `pixel`, before its first ray.
EyePath eye_path_start(uvec2 pixel, uint sample_index, vec2 render_size, uint trace_param) {
    EyePath p;
    p.pixel = pixel;
    p.sample_index = sample_index;
    uint max_bounces = trace_bounce_limit(trace_param);
    p.limit = max_bounces == 0u ? uint(MAX_PATH_VERTICES) : min(max_bounces + 1u, uint(MAX_PATH_VERTICES));
    p.light_tracing = light_tracing_enabled(trace_param);
    p.light_reachable = false;
    p.caustic_chain = false;
    p.light_owned = false;
    camera_sample(pixel, sample_index, render_size, p.origin, p.dir, p.time01, p.time);
    p.radiance = vec3(0.0);
    p.throughput = vec3(1.0);
    p.bsdf_pdf = 0.0;
    p.delta_bounce = false;
    p.previous = p.origin;
    p.layer = 0u;
    p.vertex = 0u;
    p.media = medium_stack_empty();
    path_time01 = p.time01;
    path_time = p.time;
    path_rays = 0u;
    return p;
}

// Traces the path's next ray and shades what it meets; false once the path
// has ended and p.radiance is its sample.
bool eye_path_step(inout EyePath p) {
    trace_payload(p.origin, p.dir, RAY_FAR, gl_RayFlagsOpaqueEXT, MISS_INDEX_EYE, p.time01);
    if (program_has(PROGRAM_FEATURE_TRANSMISSION)) p.throughput *= medium_transmittance(p.media, payload.t);
    if (payload.t < 0.0) {
        vec3 env = env_radiance(p.dir);
        if (any(greaterThan(env, vec3(0.0)))) {
            float w = (p.vertex == 0u || p.delta_bounce) ? 1.0 : mis_power1(p.bsdf_pdf, environment_hit_pdf(p.dir));
            bool owned = p.light_owned && environment_emits_light_paths(light_count()) &&
                         environment_hit_pdf(p.dir) > 0.0;
            if (!owned) p.radiance += p.throughput * env * w;
        }
        return false;
    }
    HitPayload hit = payload;
    Surface s = surface_at(hit, p.origin, p.dir);
    if (!eye_ray_stops(s.material, p.pixel, p.sample_index, p.vertex, p.layer)) {
        if (++p.layer > uint(MAX_ALPHA_LAYERS)) return false;
        p.origin = offset_origin(s.position, s.geometric_normal, p.dir);
        return true;
    }
    p.layer = 0u;

    if (dot(p.dir, s.geometric_normal) < 0.0) {
        vec3 emitted = eval_emission(s.material, s.uv, s.has_uv, p.time);
        if (any(notEqual(emitted, vec3(0.0)))) {
            float light_pdf = p.vertex == 0u ? 0.0 : emitter_hit_pdf(s.instance, s.primitive, p.previous, s.position, p.time01);
            float w = (p.vertex == 0u || p.delta_bounce) ? 1.0 : mis_power1(p.bsdf_pdf, light_pdf);
            if (!(p.light_owned && light_pdf > 0.0)) p.radiance += p.throughput * emitted * w;
        }
    }
    if (p.vertex >= p.limit) return false;

    // Material and shading frame.
    vec3 wo = -p.dir;
    ShadingPoint sp = shading_point(s, hit, wo, p.time);
    ShadingMaterial m = sp.m;
    ShadingFrame frame = sp.frame;
    vec3 ng = sp.ng;
    bool is_interface = sp.is_interface;
    float wo_side = sp.wo_side;
    vec3 wo_local = to_local(frame, wo);
    PrincipledBsdf bsdf = principled_setup(sp.m, wo_local, true);
    bool specular = vertex_is_specular(m);
    if (!specular) p.light_reachable = (p.vertex == 0u || p.light_reachable) && vertex_connects_to_camera(m);
    p.caustic_chain = specular ? p.caustic_chain : p.light_reachable;
    p.light_owned = p.light_tracing && specular && p.caustic_chain;

    // Next-event estimation.
    uint select = sample_1d_u32(p.pixel, p.sample_index, vertex_pair(p.vertex, PAIR_LIGHT_SELECT));
    uvec2 point = sample_pair_u32(p.pixel, p.sample_index, vertex_pair(p.vertex, PAIR_LIGHT_POINT));
    LightSample light = sample_light(s.position, select, point, p.time01, p.time);
    bool owned = p.light_owned && (!isinf(light.distance) || environment_emits_light_paths(light_count()));
    if (light.valid && !owned && any(greaterThan(light.radiance, vec3(0.0)))) {
        vec3 wi_local = to_local(frame, light.direction);
        bool reflects = wi_local.z * wo_local.z > 0.0;
        if (reflects == (dot(light.direction, ng) * wo_side > 0.0)) {
            vec3 fcos = principled_eval(bsdf, wo_local, wi_local);
            if (any(greaterThan(fcos, vec3(0.0)))) {
                vec3 o = offset_origin(s.position, ng, light.direction);
                float visible = shadow_transmittance(o, light.direction, light_tmax(s.position, light), p.time01);
                if (visible > 0.0) {
                    float w = mis_power1(light.pdf, principled_pdf(bsdf, wo_local, wi_local));
                    p.radiance += p.throughput * fcos * light.radiance * (visible * w / light.pdf);
                }
            }
        }
    }

    // Continue by sampling the BSDF, or by a walk through the body
    // under a subsurface surface.
    vec2 lobe_rr = sample_2d(p.pixel, p.sample_index, vertex_pair(p.vertex, PAIR_BSDF_LOBE));
    vec2 direction_u = sample_2d(p.pixel, p.sample_index, vertex_pair(p.vertex, PAIR_BSDF_DIRECTION));
    float walk_p = program_has(PROGRAM_FEATURE_SUBSURFACE) ? bsdf.probability[LOBE_SUBSURFACE] : 0.0;
    vec3 wi;
    if (walk_p > 0.0 && lobe_rr.x >= 1.0 - walk_p) {
        SubsurfaceMedium med = subsurface_medium(m);
        vec3 u = vec3(clamp((lobe_rr.x - (1.0 - walk_p)) / walk_p, 0.0, 0.99999994), direction_u);
        vec3 into = to_world(frame, subsurface_entry_direction(med, wo_local, u));
        if (dot(into, ng) >= 0.0) into = reflect(into, ng);
        uint rng = walk_seed(p.pixel, p.sample_index, p.vertex);
        WalkResult walk = subsurface_walk(med, s.instance, offset_origin(s.position, ng, into), into, rng);
        p.throughput *= bsdf.weight[LOBE_SUBSURFACE] / walk_p;
        p.radiance += p.throughput * walk.radiance;
        if (!walk.exited) return false;
        wi = walk.direction;
        p.throughput *= walk.weight;
        p.bsdf_pdf = walk.pdf;
        p.delta_bounce = walk.delta;
        p.previous = walk.position;
        ng = walk.normal;
    } else {
        BsdfSample bs = principled_sample(bsdf, wo_local, vec3(lobe_rr.x, direction_u));
        if (!bs.valid) return false;
        wi = to_world(frame, bs.wi);
        // A reflection that the shading normal sends below the geometric
        // surface would leak light; interfaces keep such paths (the ray
        // simply continues on the side it points to), which conserves
        // their energy at silhouettes.
        bool reflects = bs.wi.z * wo_local.z > 0.0;
        if (!is_interface && reflects != (dot(wi, ng) * wo_side > 0.0)) return false;
        // Crossing an interface enters or leaves its body (the outside
        // is on the front).
        if (is_interface && dot(wi, ng) * wo_side < 0.0) {
            if (wo_side > 0.0) {
                medium_enter(p.media, s.instance, absorption_coefficient(m));
            } else {
                medium_leave(p.media, s.instance);
            }
        }
        p.throughput *= bs.weight;
        p.bsdf_pdf = bs.pdf;
        p.delta_bounce = bs.delta;
        p.previous = s.position;
    }
    // A black surface ends the path: nothing it gathers can reach the camera.
    if (all(equal(p.throughput, vec3(0.0)))) return false;
    if (p.vertex + 1u >= uint(RR_START_VERTEX)) {
        float survive = min(sqrt(max3(p.throughput)), RR_MAX_SURVIVAL);
        if (!(lobe_rr.y < survive)) return false;
        p.throughput /= survive;
    }
    p.origin = offset_origin(p.previous, ng, wi);
    p.dir = wi;
    ++p.vertex;
    return true;
}

#endif
