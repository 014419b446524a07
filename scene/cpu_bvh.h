// A bounding volume hierarchy shaped for tracing on CPU devices.
//
// Lavapipe builds binary trees by halving each mesh's triangle list at its
// middle index and traverses them with one gather per word of a node, so a
// ray's cost is its node visits times about a dozen gathers. A four-wide
// tree split by the surface-area heuristic, with leaves of up to four
// triangles, visits a third as many nodes: traversed by the compute eye
// program in place of the ray query, it took 0.65 of the trace pass on a
// scene of 27,000 triangles and 0.9 on the 32-triangle Cornell box
// (BENCHMARKS.md). Records are those of shaders/gpu_layout.h.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "scene/scene.h"

// One triangle in world space and what a hit on it reports.
struct BvhInputTriangle {
    float corner[3][3];
    uint32_t instance = 0;
    uint32_t primitive = 0;
};

struct CpuBvh {
    std::vector<GpuBvhNode> nodes;  // node 0 is the root; empty: nothing to trace
    std::vector<GpuBvhTriangle> triangles;
    uint32_t depth = 0;  // levels of nodes
};

// Binned surface-area splits; a range whose centroids coincide is split at
// its middle. Triangles with a non-finite corner are left out. When the
// tree would be deeper than CPU_BVH_MAX_DEPTH (a traversal's stack could
// overflow), it is built again with middle splits only, which keep it
// balanced; the result is empty only without triangles or beyond
// 4^CPU_BVH_MAX_DEPTH leaves. Deterministic.
CpuBvh build_cpu_bvh(std::span<const BvhInputTriangle> triangles);

// The scene's triangles in world space, instance by instance in index
// order, each with its instance index and its index in its mesh. Every
// instance is placed at `transform`, as devices without motion blur trace
// moving ones; instances with a non-finite transform or a missing mesh,
// and triangles with an index past their mesh's vertices, contribute
// nothing.
std::vector<BvhInputTriangle> instance_triangles(const Scene& scene);

// The block the compute eye program reads (GpuBvhHeader and what follows
// it, shaders/gpu_layout.h), with every instance's transform; empty when
// `bvh` is.
std::vector<float> cpu_bvh_block(const CpuBvh& bvh, const Scene& scene);
