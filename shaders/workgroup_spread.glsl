// Which tile pixels a work group of a compute trace pass runs.
//
// CPU drivers hand a dispatch's work groups to their threads in runs of
// consecutive group indices (lavapipe gives each thread one run, of equal
// length, with x varying fastest). With groups laid over the tile in image
// order, each thread then renders one band of it, and the thread whose band
// is cheap (a ceiling, open sky) waits while the others finish: on the
// Cornell box lavapipe's two threads were busy 92 % of the trace pass. So
// group g of a sample layer takes block (g * s) mod n of the layer's n
// blocks, where s is the first odd number from the golden section of n on
// that shares no factor with n: a bijection, under which any run of
// consecutive groups is spread evenly over the whole tile (the threads were
// then busy 97 % of the time, and the trace pass took 7 % less). Which
// group runs a pixel changes nothing in the pixel's samples, so images stay
// the same bit for bit.
#ifndef VITREL_WORKGROUP_SPREAD_GLSL
#define VITREL_WORKGROUP_SPREAD_GLSL

#define SPREAD_GOLDEN_SECTION 0.618034

uint spread_gcd(uint a, uint b) {
    while (b != 0u) {
        uint r = a % b;
        a = b;
        b = r;
    }
    return a;
}

// (a * b) mod n for a < n < 2^31, without a 64-bit product.
uint spread_mul_mod(uint a, uint b, uint n) {
    uint r = 0u;
    while (b != 0u) {
        if ((b & 1u) != 0u) {
            r += a;
            if (r >= n) r -= n;
        }
        a += a;
        if (a >= n) a -= n;
        b >>= 1u;
    }
    return r;
}

uint spread_stride(uint n) {
    uint s = uint(float(n) * SPREAD_GOLDEN_SECTION) | 1u;
    while (spread_gcd(s, n) != 1u) s += 2u;
    return s;
}

// gl_GlobalInvocationID with the work groups of each layer spread over the
// tile. A grid too large for the 31-bit arithmetic keeps image order.
uvec3 spread_invocation_id() {
    uvec3 groups = gl_NumWorkGroups;
    uint n = groups.x * groups.y;
    if (n < 3u || groups.x >= 0x8000u || groups.y >= 0x8000u) return gl_GlobalInvocationID;
    uint g = gl_WorkGroupID.x + groups.x * gl_WorkGroupID.y;
    uint block = spread_mul_mod(g, spread_stride(n), n);
    uvec3 group = uvec3(block % groups.x, block / groups.x, gl_WorkGroupID.z);
    return group * gl_WorkGroupSize + gl_LocalInvocationID;
}

#endif
