// Next-event estimation: choosing a light through the light CDF, then a
// triangle of an emissive instance through its area CDF and a uniform
// point on it, or a direction of the environment through its tables; and
// the density with which that procedure would have produced a given
// emitter hit or escaping direction, for multiple importance sampling.
//
// Lights are the emissive instances in table order, then the environment
// when scene preparation counted it (always the last entry). Every count
// read from host data is checked against the buffer it indexes: a light
// index without a record, a triangle outside the triangle CDF, or an
// environment entry whose block is empty yields no sample.
//
// Emitters radiate from the front side of their triangles only (the side
// cross(p1 - p0, p2 - p0) points to); a point behind a light gets nothing
// from it, and the sampler knows it.
#ifndef VITREL_LIGHT_SAMPLING_GLSL
#define VITREL_LIGHT_SAMPLING_GLSL

#include "bound_length.glsl"

#include "environment.glsl"
#include "sampling.glsl"
#include "surface.glsl"

CDF_SEARCH_FUNCTIONS(light_cdf_search, light_cdf)
CDF_SEARCH_FUNCTIONS(tri_cdf_search, emissive_tri_cdf)

struct LightSample {
    vec3 direction;  // unit, from the shading point towards the light
    float distance;  // to the light point; infinite for the environment
    vec3 radiance;   // emitted towards the shading point
    float pdf;       // solid-angle density, light selection included
    bool valid;
};

LightSample light_sample_none() {
    LightSample s;
    s.direction = vec3(0.0, 0.0, 1.0);
    s.distance = 0.0;
    s.radiance = vec3(0.0);
    s.pdf = 0.0;
    s.valid = false;
    return s;
}

// Entries of the light CDF that the tables back.
uint light_count() {
    float n = scene_params[SP_LIGHT_COUNT];
    if (!(n >= 1.0)) return 0u;
    return min(uint(min(n, 4294967040.0)), uint(BOUND_LENGTH(light_cdf)));
}

// The environment takes part as light `count - 1`.
bool environment_is_light(uint count) {
    return count >= 1u && scene_params[SP_ENV_ACTIVE] > 0.5 && env_active();
}

// Whether light paths leave the environment too: it takes part as a light
// and the scene has a bounding sphere, whose disks they start from.
bool environment_emits_light_paths(uint count) {
    return environment_is_light(count) && scene_params[SP_BOUNDS_RADIUS] > 0.0;
}

// Selection probability of light i under the quantised table.
float light_probability(uint count, uint i) { return light_cdf_search_probability(0u, count, i); }

// Emissive record j when it exists and its triangle CDF lies in the table.
bool emissive_record(uint count, uint j, out GpuEmissive e) {
    uint emissive_lights = environment_is_light(count) ? count - 1u : count;
    if (j >= emissive_lights || j >= uint(BOUND_LENGTH(emissives))) return false;
    e = emissives[j];
    uint tables = uint(BOUND_LENGTH(emissive_tri_cdf));
    if (e.triangle_count == 0u || e.first_triangle > tables || e.triangle_count > tables - e.first_triangle)
        return false;
    return e.instance >= 0 && e.instance < BOUND_LENGTH(instance_info);
}

// The emitter's world transform at shutter time `time01` (matrix motion
// interpolates the two keyed matrices, like the traced instance).
vec3 emissive_point(GpuEmissive e, vec3 p, float time01) {
#ifdef HAS_NV_MOTION_BLUR
    return mix(transform_point(e.transform, p), transform_point(e.transform_end, p), time01);
#else
    return transform_point(e.transform, p);
#endif
}

// World corners of triangle `tri` of the emitter; false when unreadable.
bool emissive_triangle(GpuEmissive e, int tri, float time01, out GpuInstance inst, out uvec3 local,
                       out vec3 q0, out vec3 q1, out vec3 q2) {
    inst = instance_info[e.instance];
    vec3 p0, p1, p2;
    q0 = vec3(0.0);
    q1 = vec3(0.0);
    q2 = vec3(0.0);
    if (!triangle_vertices(inst, tri, local) || !triangle_positions(inst, local, p0, p1, p2)) return false;
    q0 = emissive_point(e, p0, time01);
    q1 = emissive_point(e, p1, time01);
    q2 = emissive_point(e, p2, time01);
    return true;
}

// Solid-angle density of reaching point y with winding normal n (not unit)
// of a triangle chosen with probability `choice` from shading point x.
// Zero for degenerate triangles and points behind the emitter.
float emitter_solid_angle_pdf(float choice, vec3 x, vec3 y, vec3 n) {
    float twice_area = length(n);
    vec3 d = x - y;
    float dist2 = dot(d, d);
    if (!(twice_area > 0.0) || !(dist2 > 0.0)) return 0.0;
    float cos_light = dot(n, d) / (twice_area * sqrt(dist2));
    if (!(cos_light > 0.0)) return 0.0;
    return choice * 2.0 / twice_area * dist2 / cos_light;
}

// Uniform position inside the CDF bin that `xi` selected, from the part of
// xi the selection did not use: one 32-bit number both picks an entry and
// places the sample within it, keeping its stratification.
float cdf_residual(uint xi, uint lo, uint hi, bool first) {
    if (first) return (float(xi) + 0.5) / (float(hi) + 1.0);
    return clamp((float(xi - lo) - 0.5) / float(hi - lo), 0.0, 0.99999994);
}

// Triangle of emitter `e` and a uniform point on it (barycentric weights)
// from one pair: xi.x picks the triangle and, through its residual, places
// the point together with xi.y. The pair's 2-D stratification so spans the
// whole emitter; drawn apart, the triangle choice would leave each
// triangle a random subset of the pair's samples. `choice` is the
// triangle's probability within the emitter.
uint emissive_point_sample(GpuEmissive e, uvec2 xi, out float choice, out vec3 b) {
    uint tri = tri_cdf_search(e.first_triangle, e.triangle_count, xi.x);
    choice = tri_cdf_search_probability(e.first_triangle, e.triangle_count, tri);
    uint at = e.first_triangle + tri;
    float u = cdf_residual(xi.x, tri == 0u ? 0u : emissive_tri_cdf[at - 1u], emissive_tri_cdf[at], tri == 0u);
    b = sample_triangle_uniform(vec2(u, u32_to_unit_float(xi.y)));
    return tri;
}

// Environment direction: xi.x picks the row, xi.y the column, and the two
// residuals place the direction inside the texel.
LightSample sample_environment(uvec2 xi, float choice) {
    LightSample s = light_sample_none();
    uvec2 size = env_size();
    uint first_row = env_marginal_first();
    uint y = env_cdf_search(first_row, size.y, xi.x);
    uint first_col = env_conditional_first(y);
    uint x = env_cdf_search(first_col, size.x, xi.y);
    float jy = cdf_residual(xi.x, y == 0u ? 0u : env_words[first_row + y - 1u],
                            env_words[first_row + y], y == 0u);
    float jx = cdf_residual(xi.y, x == 0u ? 0u : env_words[first_col + x - 1u],
                            env_words[first_col + x], x == 0u);
    float theta = PI * (float(y) + jy) / float(size.y);
    float phi = TWO_PI * (float(x) + jx) / float(size.x);
    float sin_theta = sin(theta);
    s.direction = env_rotation() * vec3(sin_theta * cos(phi), cos(theta), sin_theta * sin(phi));
    s.pdf = choice * env_density(env_texel_probability(x, y), sin_theta);
    s.radiance = env_texel_radiance(x, y);
    s.distance = 1.0 / 0.0;
    s.valid = s.pdf > 0.0;
    return s;
}

// One light sample for shading point x. `select` picks the light; `point`
// picks the emitter's triangle and the point on it (emissive_point_sample)
// or the environment texel and the direction in it, so one 2-D pair places
// the sample on whichever light was chosen.
LightSample sample_light(vec3 x, uint select, uvec2 point, float time01, float time) {
    uint count = light_count();
    if (count == 0u) return light_sample_none();
    uint i = light_cdf_search(0u, count, select);
    float choice = light_probability(count, i);
    if (environment_is_light(count) && i == count - 1u) return sample_environment(point, choice);
    GpuEmissive e;
    if (!emissive_record(count, i, e)) return light_sample_none();
    float tri_choice;
    vec3 b;
    uint tri = emissive_point_sample(e, point, tri_choice, b);
    choice *= tri_choice;
    GpuInstance inst;
    uvec3 local;
    vec3 q0, q1, q2;
    if (!emissive_triangle(e, int(tri), time01, inst, local, q0, q1, q2)) return light_sample_none();
    vec3 y = b.x * q0 + b.y * q1 + b.z * q2;
    vec3 n = cross(q1 - q0, q2 - q0);
    LightSample s = light_sample_none();
    s.pdf = emitter_solid_angle_pdf(choice, x, y, n);
    if (!(s.pdf > 0.0) || isinf(s.pdf)) return light_sample_none();
    vec3 d = y - x;
    s.distance = length(d);
    s.direction = d / s.distance;
    vec2 uv;
    bool has_uv = triangle_uv(inst, local, b.yz, uv);
    s.radiance = eval_emission(triangle_material(inst, int(tri)), uv, has_uv, time);
    s.valid = true;
    return s;
}

// Density with which sample_light reaches the front of triangle `primitive`
// of instance `instance` at y, seen from x (0 when it is not a light).
float emitter_hit_pdf(uint instance, int primitive, vec3 x, vec3 y, float time01) {
    uint count = light_count();
    if (count == 0u || instance >= uint(BOUND_LENGTH(instance_info))) return 0.0;
    int j = instance_info[instance].emissive_index;
    GpuEmissive e;
    if (j < 0 || !emissive_record(count, uint(j), e) || e.instance != int(instance)) return 0.0;
    if (primitive < 0 || uint(primitive) >= e.triangle_count) return 0.0;
    float choice = light_probability(count, uint(j)) *
                   tri_cdf_search_probability(e.first_triangle, e.triangle_count, uint(primitive));
    GpuInstance inst;
    uvec3 local;
    vec3 q0, q1, q2;
    if (!emissive_triangle(e, primitive, time01, inst, local, q0, q1, q2)) return 0.0;
    return emitter_solid_angle_pdf(choice, x, y, cross(q1 - q0, q2 - q0));
}

// Density with which sample_light picks escaping direction `dir`.
float environment_hit_pdf(vec3 dir) {
    uint count = light_count();
    if (!environment_is_light(count)) return 0.0;
    return light_probability(count, count - 1u) * env_pdf(dir);
}

#endif
