// Sampling utilities shared by the ray-tracing and compute programs:
// the per-pixel low-discrepancy sampler, inversion of the 32-bit quantised
// cumulative tables that scene preparation builds, uniform triangle and
// hemisphere sampling, and multiple-importance weights.
#ifndef VITREL_SAMPLING_GLSL
#define VITREL_SAMPLING_GLSL

#include "constants.glsl"

// ---- Hashing -------------------------------------------------------------

// 32-bit integer hash with good avalanche (the "lowbias32" mixer).
uint hash_u32(uint x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

uint hash_combine(uint seed, uint v) { return hash_u32(seed ^ (v + 0x9e3779b9u + (seed << 6) + (seed >> 2))); }

// ---- Owen-scrambled Sobol sampler ----------------------------------------
//
// Every sample is addressed by (pixel, sample index, dimension). Dimensions
// are consumed in pairs: pair d is the first two Sobol dimensions with the
// index shuffled and both coordinates Owen-scrambled by seeds derived from
// (pixel, d). The shuffle is itself an Owen scramble of the index, so every
// aligned block of 2^k consecutive indices is still a stratified (0, k, 2)
// net: sample counts that are powers of two keep their stratification, and
// progressive batches simply continue the index. The result depends only on
// the three inputs and the seed (SAMPLER_SEED, below), which makes renders
// reproducible and lets a batch of 8 + 8 samples equal a batch of 16.

// Laine-Karras style permutation: each output bit depends only on the input
// bits below it, so applied to bit-reversed values it is a nested uniform
// (Owen) scramble.
uint laine_karras_permutation(uint x, uint seed) {
    x += seed;
    x ^= x * 0x6c50b47cu;
    x ^= x * 0xb82f1e52u;
    x ^= x * 0xc7afe638u;
    x ^= x * 0x8d22f6e6u;
    return x;
}

uint nested_uniform_scramble(uint x, uint seed) {
    return bitfieldReverse(laine_karras_permutation(bitfieldReverse(x), seed));
}

// Sobol dimension 0 (van der Corput) and dimension 1 as 32-bit fractions.
// Dimension 1's generator matrix is Pascal's triangle mod 2: with bits
// counted from the least significant, bit j of the reversed result is the
// parity of the index bits i with j a subset of i (Lucas). That superset
// sum takes one masked shift-xor per index bit of a bit position, five in
// all, where the textbook loop takes one step per index bit; the shuffled
// index has all 32 bits in use.
uvec2 sobol_pair(uint index) {
    uint r = index;
    r ^= (r >> 1) & 0x55555555u;
    r ^= (r >> 2) & 0x33333333u;
    r ^= (r >> 4) & 0x0F0F0F0Fu;
    r ^= (r >> 8) & 0x00FF00FFu;
    r ^= (r >> 16) & 0x0000FFFFu;
    return uvec2(bitfieldReverse(index), bitfieldReverse(r));
}

// A 32-bit fraction as a float in [0, 1): only the top 24 bits are kept so
// the result is never rounded up to 1.
float u32_to_unit_float(uint x) { return float(x >> 8) * (1.0 / 16777216.0); }

// A program may define SAMPLER_SEED (a uint expression) before including
// this file; every nonzero seed gives the sequence other scrambles, so
// renders with different seeds are independent. Seed 0 is the default
// sequence.
#ifndef SAMPLER_SEED
#define SAMPLER_SEED 0u
#endif

// hash_u32(x) for the default seed, and a seed-dependent hash otherwise.
uint seeded_hash(uint x) {
    uint h = hash_u32(x);
    return SAMPLER_SEED == 0u ? h : hash_combine(h, SAMPLER_SEED);
}

uint sampler_seed(uvec2 pixel, uint pair) {
    return hash_combine(hash_combine(seeded_hash(pixel.x), pixel.y), pair);
}

// The two 32-bit coordinates of dimension pair `pair` of sample `index`.
uvec2 sample_pair_u32(uvec2 pixel, uint index, uint pair) {
    uint seed = sampler_seed(pixel, pair);
    uint shuffled = nested_uniform_scramble(index, seed);
    uvec2 s = sobol_pair(shuffled);
    return uvec2(nested_uniform_scramble(s.x, hash_combine(seed, 1u)),
                 nested_uniform_scramble(s.y, hash_combine(seed, 2u)));
}

vec2 sample_2d(uvec2 pixel, uint index, uint pair) {
    uvec2 s = sample_pair_u32(pixel, index, pair);
    return vec2(u32_to_unit_float(s.x), u32_to_unit_float(s.y));
}

// One dimension on its own: the first coordinate of the pair. Callers that
// need a uniformly drawn 32-bit number (table inversion) use the _u32 form.
float sample_1d(uvec2 pixel, uint index, uint pair) {
    return u32_to_unit_float(sample_pair_u32(pixel, index, pair).x);
}
uint sample_1d_u32(uvec2 pixel, uint index, uint pair) {
    return sample_pair_u32(pixel, index, pair).x;
}

// ---- Quantised cumulative tables ------------------------------------------
//
// Host tables hold, per entry, round(cumulative fraction * 4294967295) with
// the last entry forced to 0xFFFFFFFF. A uniformly drawn 32-bit number xi
// selects the first entry not below it, so entry i is chosen for the
// cdf[i] - cdf[i - 1] values in (cdf[i - 1], cdf[i]] (cdf[0] + 1 values for
// the first entry) out of 2^32: entries of zero weight are never chosen.
//
// GLSL cannot pass buffers to functions, so CDF_SEARCH_FUNCTIONS(NAME, TABLE)
// defines, for an array expression TABLE declared by the including program:
//   uint NAME(uint first, uint count, uint xi)
//       index in [0, count) of the first entry TABLE[first + i] >= xi;
//       count must be at least 1
//   float NAME##_probability(uint first, uint count, uint i)
//       the probability with which NAME returns i for uniform xi
#define CDF_SEARCH_FUNCTIONS(NAME, TABLE)                                   \
    uint NAME(uint first, uint count, uint xi) {                            \
        uint lo = 0u;                                                       \
        uint hi = count - 1u;                                               \
        while (lo < hi) {                                                   \
            uint mid = lo + ((hi - lo) >> 1);                               \
            if (TABLE[first + mid] < xi) lo = mid + 1u; else hi = mid;      \
        }                                                                   \
        return lo;                                                          \
    }                                                                       \
    float NAME##_probability(uint first, uint count, uint i) {              \
        if (i >= count) return 0.0;                                         \
        uint hi = i + 1u == count ? 0xFFFFFFFFu : TABLE[first + i];         \
        uint lo = i == 0u ? 0u : TABLE[first + i - 1u];                     \
        float extra = i == 0u ? 1.0 : 0.0;                                  \
        return hi < lo ? 0.0 : (float(hi - lo) + extra) * (1.0 / 4294967296.0); \
    }

// ---- Geometry ------------------------------------------------------------

// Uniform point on a triangle as barycentric weights of (p0, p1, p2), by the
// square-root warp (Turk 1990): stratification of u carries over.
vec3 sample_triangle_uniform(vec2 u) {
    float su = sqrt(u.x);
    float b0 = 1.0 - su;
    float b1 = u.y * su;
    return vec3(b0, b1, 1.0 - b0 - b1);
}

// Cosine-weighted direction about +z via the concentric disk map.
vec2 sample_disk_concentric(vec2 u) {
    vec2 o = 2.0 * u - 1.0;
    if (o.x == 0.0 && o.y == 0.0) return vec2(0.0);
    float r;
    float theta;
    if (abs(o.x) > abs(o.y)) {
        r = o.x;
        theta = (PI / 4.0) * (o.y / o.x);
    } else {
        r = o.y;
        theta = (PI / 2.0) - (PI / 4.0) * (o.x / o.y);
    }
    return r * vec2(cos(theta), sin(theta));
}

vec3 sample_cosine_hemisphere(vec2 u) {
    vec2 d = sample_disk_concentric(u);
    return vec3(d, sqrt(max(0.0, 1.0 - dot(d, d))));
}

float cosine_hemisphere_pdf(float cos_theta) { return max(cos_theta, 0.0) * INV_PI; }

vec3 sample_uniform_sphere(vec2 u) {
    float z = 1.0 - 2.0 * u.x;
    float r = sqrt(max(0.0, 1.0 - z * z));
    float phi = TWO_PI * u.y;
    return vec3(r * cos(phi), r * sin(phi), z);
}

// Orthonormal basis around a unit vector (Duff et al. 2017).
void make_basis(vec3 n, out vec3 t, out vec3 b) {
    float s = n.z >= 0.0 ? 1.0 : -1.0;
    float a = -1.0 / (s + n.z);
    float c = n.x * n.y * a;
    t = vec3(1.0 + s * n.x * n.x * a, s * c, -s * n.x);
    b = vec3(c, s + n.y * n.y * a, -n.y);
}

// ---- Multiple importance sampling ----------------------------------------

// Power heuristic (beta = 2) weight of a strategy that drew nf samples with
// density f, against ng samples of a strategy with density g. Written as a
// ratio so that very large densities (near-specular lobes) cannot overflow;
// a zero density f gives weight 0.
float mis_power(float nf, float f, float ng, float g) {
    float a = nf * f;
    float b = ng * g;
    if (!(a > 0.0)) return 0.0;
    if (!(b > 0.0)) return 1.0;
    if (a >= b) {
        float r = b / a;
        return 1.0 / (1.0 + r * r);
    }
    float r = a / b;
    float r2 = r * r;
    return r2 / (1.0 + r2);
}

float mis_power1(float f, float g) { return mis_power(1.0, f, 1.0, g); }

#endif
