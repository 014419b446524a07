#version 460
// Drives the sampling library for the host tests. Mode selects the routine.
#include "sampling.glsl"

layout(local_size_x = 64) in;
layout(std430, set = 0, binding = 0) readonly buffer Table { uint table[]; };
layout(std430, set = 0, binding = 1) buffer Out { uint out_words[]; };
layout(push_constant) uniform Push {
    uint mode;
    uint first;
    uint count;
    uint pixel_x;
    uint pixel_y;
    uint pair;
    uint table_first;
    uint table_count;
    uint seed;
} pc;

CDF_SEARCH_FUNCTIONS(table_search, table)

#define MODE_SAMPLER 0u
#define MODE_CDF_RANDOM 1u
#define MODE_CDF_PROBABILITY 2u
#define MODE_CDF_GIVEN 3u
#define MODE_TRIANGLE 4u
#define MODE_MIS 5u

void main() {
    uint t = gl_GlobalInvocationID.x;
    if (t >= pc.count) return;
    if (pc.mode == MODE_SAMPLER) {
        uvec2 s = sample_pair_u32(uvec2(pc.pixel_x, pc.pixel_y), pc.first + t, pc.pair);
        out_words[2u * t] = s.x;
        out_words[2u * t + 1u] = s.y;
    } else if (pc.mode == MODE_CDF_RANDOM) {
        uint xi = hash_combine(pc.seed, t);
        out_words[t] = table_search(pc.table_first, pc.table_count, xi);
    } else if (pc.mode == MODE_CDF_PROBABILITY) {
        out_words[t] = floatBitsToUint(table_search_probability(pc.table_first, pc.table_count, t));
    } else if (pc.mode == MODE_CDF_GIVEN) {
        out_words[t] = table_search(pc.table_first, pc.table_count, out_words[t]);
    } else if (pc.mode == MODE_TRIANGLE) {
        vec2 u = vec2(u32_to_unit_float(hash_combine(pc.seed, 2u * t)),
                      u32_to_unit_float(hash_combine(pc.seed, 2u * t + 1u)));
        vec3 b = sample_triangle_uniform(u);
        out_words[3u * t] = floatBitsToUint(b.x);
        out_words[3u * t + 1u] = floatBitsToUint(b.y);
        out_words[3u * t + 2u] = floatBitsToUint(b.z);
    } else if (pc.mode == MODE_MIS) {
        // Pairs of densities from the table (as float bits): weights of both
        // strategies for one sample each.
        float f = uintBitsToFloat(table[2u * t]);
        float g = uintBitsToFloat(table[2u * t + 1u]);
        out_words[2u * t] = floatBitsToUint(mis_power1(f, g));
        out_words[2u * t + 1u] = floatBitsToUint(mis_power1(g, f));
    }
}
