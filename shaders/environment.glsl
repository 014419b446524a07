// Importance sampling of the environment map from the tables that scene
// preparation builds, and its density and radiance for any direction.
//
// The including program declares the environment block of binding 22 as
// `{ GpuEnvHeader env_header; uint env_words[]; }`: the header record of
// gpu_layout.h (size, total weight, intensity, rotation, texture index),
// then as env_words the marginal CDF (height words), the row weights
// (height floats) and the conditional CDFs (width x height words,
// row-major). textures.glsl must be included first (the map's texels come
// from the atlas).
//
// Map convention: a latitude-longitude image whose row y spans polar angles
// theta in [pi y / H, pi (y + 1) / H] from +Y (the first row is the sky
// above) and whose column x spans phi in [2 pi x / W, 2 pi (x + 1) / W],
// with map direction (sin theta cos phi, cos theta, sin theta sin phi). The
// rotation R of `envmap_rotation` turns the map: world = R * map.
//
// Texels are piecewise constant, both in env_radiance and in the sampling
// density, so a sampled direction's pdf and radiance agree exactly.
#ifndef VITREL_ENVIRONMENT_GLSL
#define VITREL_ENVIRONMENT_GLSL

#include "bound_length.glsl"

#include "constants.glsl"
#include "sampling.glsl"

CDF_SEARCH_FUNCTIONS(env_cdf_search, env_words)

struct EnvSample {
    vec3 direction;  // world space, towards the environment
    vec3 radiance;
    float pdf;       // solid angle density
    bool valid;
};

// True when the block holds a complete table set of a non-empty map.
bool env_active() {
    int w = env_header.width;
    int h = env_header.height;
    if (w <= 0 || h <= 0) return false;
    uint rest = uint(BOUND_LENGTH(env_words));
    if (uint(h) > rest / 2u) return false;
    rest -= 2u * uint(h);
    return uint(h) <= rest / uint(w);
}

uvec2 env_size() { return uvec2(env_header.width, env_header.height); }

mat3 env_rotation() {
    vec3 r0 = vec3(env_header.rotation[0], env_header.rotation[1], env_header.rotation[2]);
    vec3 r1 = vec3(env_header.rotation[3], env_header.rotation[4], env_header.rotation[5]);
    vec3 r2 = vec3(env_header.rotation[6], env_header.rotation[7], env_header.rotation[8]);
    return transpose(mat3(r0, r1, r2));  // GLSL matrices are built from columns
}

uint env_marginal_first() { return 0u; }
uint env_conditional_first(uint y) {
    uvec2 size = env_size();
    return 2u * size.y + y * size.x;
}

// Probability of texel (x, y) under the quantised tables.
float env_texel_probability(uint x, uint y) {
    uvec2 size = env_size();
    return env_cdf_search_probability(env_marginal_first(), size.y, y) *
           env_cdf_search_probability(env_conditional_first(y), size.x, x);
}

// Texel (x, y) as radiance (times the intensity).
vec3 env_texel_radiance(uint x, uint y) {
    return texel_fetch_rgb(env_header.texture, x, y) * env_header.intensity;
}

// Solid-angle density of a direction inside texel (x, y) at polar sine s.
float env_density(float texel_probability, float sin_theta) {
    uvec2 size = env_size();
    if (sin_theta <= 0.0) return 0.0;
    return texel_probability * float(size.x) * float(size.y) / (2.0 * PI * PI * sin_theta);
}

// Map coordinates of a world direction, (u, v) in [0, 1]^2, and the sine of
// its polar angle (from the horizontal components, which stays accurate
// near the poles where the density changes fastest).
vec2 env_direction_to_uv(vec3 world, out float sin_theta) {
    vec3 d = transpose(env_rotation()) * world;
    float len = length(d);
    d = len > 0.0 ? d / len : vec3(0.0, 1.0, 0.0);
    sin_theta = length(d.xz);
    float theta = atan(sin_theta, d.y);
    float phi = atan(d.z, d.x);
    if (phi < 0.0) phi += TWO_PI;
    return vec2(phi * INV_TWO_PI, theta * INV_PI);
}

uvec2 env_uv_to_texel(vec2 uv) {
    uvec2 size = env_size();
    vec2 t = clamp(floor(uv * vec2(size)), vec2(0.0), vec2(size) - 1.0);
    return uvec2(t);
}

// Draws a direction: xi selects the texel through the marginal and
// conditional tables (two uniformly drawn 32-bit numbers), jitter places
// the direction uniformly in the texel's (phi, theta) rectangle.
EnvSample env_sample(uvec2 xi, vec2 jitter) {
    EnvSample s;
    s.direction = vec3(0.0, 1.0, 0.0);
    s.radiance = vec3(0.0);
    s.pdf = 0.0;
    s.valid = false;
    if (!env_active()) return s;
    uvec2 size = env_size();
    uint y = env_cdf_search(env_marginal_first(), size.y, xi.x);
    uint x = env_cdf_search(env_conditional_first(y), size.x, xi.y);
    float theta = PI * (float(y) + jitter.y) / float(size.y);
    float phi = TWO_PI * (float(x) + jitter.x) / float(size.x);
    float sin_theta = sin(theta);
    vec3 map_dir = vec3(sin_theta * cos(phi), cos(theta), sin_theta * sin(phi));
    s.direction = env_rotation() * map_dir;
    s.pdf = env_density(env_texel_probability(x, y), sin_theta);
    s.radiance = env_texel_radiance(x, y);
    s.valid = s.pdf > 0.0;
    return s;
}

// Density with which env_sample returns world direction `dir`.
float env_pdf(vec3 dir) {
    if (!env_active()) return 0.0;
    float sin_theta;
    uvec2 t = env_uv_to_texel(env_direction_to_uv(dir, sin_theta));
    return env_density(env_texel_probability(t.x, t.y), sin_theta);
}

// Radiance arriving from world direction `dir`.
vec3 env_radiance(vec3 dir) {
    if (!env_active()) return vec3(0.0);
    float sin_theta;
    uvec2 t = env_uv_to_texel(env_direction_to_uv(dir, sin_theta));
    return env_texel_radiance(t.x, t.y);
}

#endif
