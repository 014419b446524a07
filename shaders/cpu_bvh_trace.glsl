// Closest-hit and any-hit traversal of the four-wide BVH that CPU devices
// build on the host (scene/cpu_bvh.h): on lavapipe it visits a third as
// many nodes as the driver's own tree. Fills the same record as the ray
// query. Include from ray_query_trace.glsl, after scene_resources.glsl.
#ifndef VITREL_CPU_BVH_TRACE_GLSL
#define VITREL_CPU_BVH_TRACE_GLSL

layout(buffer_reference, std430, buffer_reference_align = 16) readonly buffer BvhUnitView { vec4 v[]; };

// Entry distance of a box the ray misses, and of slots that hold no node.
#define RAY_MISS_DISTANCE 3.0e38
#define CPU_BVH_TINY_COMPONENT 1e-30

// Entry BINDING_TLAS of the address table: the block, or zero.
bool cpu_bvh_present() { return any(notEqual(buffer_addresses[BINDING_TLAS], uvec2(0u))); }

// Entry distance of a slab test, or a value above `best` when the box is missed.
float cpu_bvh_box(vec4 lo, vec4 hi, vec3 origin, vec3 inv, float best) {
    vec3 t0 = (lo.xyz - origin) * inv;
    vec3 t1 = (hi.xyz - origin) * inv;
    vec3 tn = min(t0, t1), tf = max(t0, t1);
    float a = max(max(tn.x, tn.y), max(tn.z, 0.0));
    float b = min(min(tf.x, tf.y), min(tf.z, best));
    return a <= b ? a : RAY_MISS_DISTANCE;
}


void cpu_bvh_trace(vec3 origin, vec3 direction, float tmax, bool any_hit) {
    BvhUnitView units = BvhUnitView(buffer_addresses[BINDING_TLAS]);
    uvec4 header = floatBitsToUint(units.v[0]);
    // Axis-parallel rays: a tiny stand-in for a zero component keeps the
    // slab distances infinite rather than 0 x inf.
    vec3 away = mix(vec3(CPU_BVH_TINY_COMPONENT), -vec3(CPU_BVH_TINY_COMPONENT), lessThan(direction, vec3(0.0)));
    vec3 inv = 1.0 / mix(direction, away, lessThan(abs(direction), vec3(CPU_BVH_TINY_COMPONENT)));
    float best = tmax;
    int hit = -1;
    vec2 bary = vec2(0.0);
    float hit_det = 0.0;
    uint stack_node[CPU_BVH_STACK];
    float stack_t[CPU_BVH_STACK];
    uint depth = 0u;
    uint node = 0u;
    bool more = header.x > 0u;
    while (more) {
        uint base = CPU_BVH_HEADER_UNITS + node * 2u * CPU_BVH_WIDTH;
        vec4 entry = vec4(RAY_MISS_DISTANCE);
        ivec4 ref = ivec4(0);
        [[unroll]] for (uint c = 0u; c < CPU_BVH_WIDTH; ++c) {
            vec4 lo = units.v[base + 2u * c];
            vec4 hi = units.v[base + 2u * c + 1u];
            int r = floatBitsToInt(lo.w);
            float t = r == 0 ? RAY_MISS_DISTANCE : cpu_bvh_box(lo, hi, origin, inv, best);
            if (t < RAY_MISS_DISTANCE && r < 0) {
                uint first = uint(-r - 1);
                uint count = min(floatBitsToUint(hi.w), uint(CPU_BVH_LEAF_TRIANGLES));
                for (uint k = 0u; k < count; ++k) {
                    uint tb = header.z + 3u * (first + k);
                    vec3 p0 = units.v[tb].xyz;
                    vec3 e1 = units.v[tb + 1u].xyz;
                    vec3 e2 = units.v[tb + 2u].xyz;
                    vec3 pv = cross(direction, e2);
                    float det = dot(e1, pv);
                    float rdet = 1.0 / det;
                    vec3 tv = origin - p0;
                    float u = dot(tv, pv) * rdet;
                    vec3 qv = cross(tv, e1);
                    float v = dot(direction, qv) * rdet;
                    float d = dot(e2, qv) * rdet;
                    if (det != 0.0 && u >= 0.0 && v >= 0.0 && u + v <= 1.0 && d > 0.0 && d < best) {
                        best = d;
                        hit = int(first + k);
                        bary = vec2(u, v);
                        hit_det = det;
                    }
                }
                t = RAY_MISS_DISTANCE;
            }
            entry[c] = t;
            ref[c] = r;
        }
        if (any_hit && hit >= 0) break;
        // Push the inner children far to near, so the nearest is taken next.
        float ta = entry.x, tb = entry.y, tc = entry.z, td = entry.w;
        int ra = ref.x, rb = ref.y, rc = ref.z, rd = ref.w;
#define CPU_BVH_ORDER(t1, r1, t2, r2) \
    if (t1 < t2) {                    \
        float tt = t1;                \
        t1 = t2;                      \
        t2 = tt;                      \
        int rr = r1;                  \
        r1 = r2;                      \
        r2 = rr;                      \
    }
        CPU_BVH_ORDER(ta, ra, tb, rb)
        CPU_BVH_ORDER(tc, rc, td, rd)
        CPU_BVH_ORDER(ta, ra, tc, rc)
        CPU_BVH_ORDER(tb, rb, td, rd)
        CPU_BVH_ORDER(tb, rb, tc, rc)
#undef CPU_BVH_ORDER
#define CPU_BVH_PUSH(t, r)                                   \
    if (t < RAY_MISS_DISTANCE && depth < uint(CPU_BVH_STACK)) { \
        stack_node[depth] = uint(r);                          \
        stack_t[depth] = t;                                   \
        ++depth;                                              \
    }
        CPU_BVH_PUSH(ta, ra)
        CPU_BVH_PUSH(tb, rb)
        CPU_BVH_PUSH(tc, rc)
        CPU_BVH_PUSH(td, rd)
#undef CPU_BVH_PUSH
        more = false;
        while (depth > 0u) {
            --depth;
            if (stack_t[depth] <= best && stack_node[depth] < header.x) {
                node = stack_node[depth];
                more = true;
                break;
            }
        }
    }
    if (hit < 0) {
        payload.t = PAYLOAD_MISS;
        return;
    }
    uint tb = header.z + 3u * uint(hit);
    uint instance = floatBitsToUint(units.v[tb].w);
    payload.instance = instance;
    payload.primitive = floatBitsToInt(units.v[tb + 1u].w);
    payload.barycentrics = bary;
    payload.t = best;
    payload.front_face = hit_det < 0.0 ? 1u : 0u;
    uint xb = header.w + 3u * instance;
    vec4 r0 = units.v[xb], r1 = units.v[xb + 1u], r2 = units.v[xb + 2u];
    payload.object_x = vec3(r0.x, r1.x, r2.x);
    payload.object_y = vec3(r0.y, r1.y, r2.y);
    payload.object_z = vec3(r0.z, r1.z, r2.z);
}

#endif
