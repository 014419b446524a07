#include "scene/cpu_bvh.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

// Centroid bins per axis of a surface-area split.
constexpr int kSahBins = 16;

struct Box {
    std::array<float, 3> lo{std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::infinity()};
    std::array<float, 3> hi{-std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()};

    void grow(const Box& b) {
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], b.lo[a]);
            hi[a] = std::max(hi[a], b.hi[a]);
        }
    }
    void grow(const std::array<float, 3>& p) {
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    }
    double area() const {
        double d[3];
        for (int a = 0; a < 3; ++a) d[a] = std::max(0.0, double(hi[a]) - double(lo[a]));
        return 2.0 * (d[0] * d[1] + d[1] * d[2] + d[2] * d[0]);
    }
};

struct Prim {
    Box box;
    std::array<float, 3> centre;
    uint32_t input;  // index into the input triangles
};

// Binary tree node over prims[begin, end); leaves have left == 0.
struct BinaryNode {
    Box box;
    uint32_t begin = 0, end = 0;
    uint32_t left = 0, right = 0;
};

// Where prims[begin, end) splits: a surface-area split over centroid bins
// of all three axes, or the middle of the longest centroid axis.
uint32_t split_range(std::vector<Prim>& prims, uint32_t begin, uint32_t end, bool sah) {
    Box centres;
    for (uint32_t i = begin; i < end; ++i) centres.grow(prims[i].centre);
    if (sah) {
        double best_cost = std::numeric_limits<double>::infinity();
        int best_axis = -1;
        int best_bin = 0;
        for (int a = 0; a < 3; ++a) {
            const float extent = centres.hi[a] - centres.lo[a];
            if (!(extent > 0.0f)) continue;
            std::array<Box, kSahBins> bins;
            std::array<uint32_t, kSahBins> counts{};
            for (uint32_t i = begin; i < end; ++i) {
                int b = int((prims[i].centre[a] - centres.lo[a]) / extent * kSahBins);
                b = std::clamp(b, 0, kSahBins - 1);
                bins[b].grow(prims[i].box);
                ++counts[b];
            }
            std::array<double, kSahBins> right_cost{};
            Box acc;
            uint32_t n = 0;
            for (int b = kSahBins - 1; b > 0; --b) {
                acc.grow(bins[b]);
                n += counts[b];
                right_cost[b] = n ? acc.area() * n : 0.0;
            }
            acc = Box{};
            n = 0;
            for (int b = 0; b + 1 < kSahBins; ++b) {
                acc.grow(bins[b]);
                n += counts[b];
                if (n == 0 || n == end - begin) continue;
                const double cost = acc.area() * n + right_cost[b + 1];
                if (cost < best_cost) {
                    best_cost = cost;
                    best_axis = a;
                    best_bin = b;
                }
            }
        }
        if (best_axis >= 0) {
            const float extent = centres.hi[best_axis] - centres.lo[best_axis];
            auto mid = std::stable_partition(prims.begin() + begin, prims.begin() + end, [&](const Prim& p) {
                const int b = std::clamp(int((p.centre[best_axis] - centres.lo[best_axis]) / extent * kSahBins), 0,
                                         kSahBins - 1);
                return b <= best_bin;
            });
            // Both sides hold a triangle by construction; should rounding
            // ever disagree with the binning, the middle split below
            // still makes progress.
            const uint32_t split = uint32_t(mid - prims.begin());
            if (split > begin && split < end) return split;
        }
    }
    int axis = 0;
    for (int a = 1; a < 3; ++a)
        if (centres.hi[a] - centres.lo[a] > centres.hi[axis] - centres.lo[axis]) axis = a;
    const uint32_t mid = begin + (end - begin) / 2;
    std::nth_element(prims.begin() + begin, prims.begin() + mid, prims.begin() + end,
                     [axis](const Prim& x, const Prim& y) {
                         return x.centre[axis] < y.centre[axis] ||
                                (x.centre[axis] == y.centre[axis] && x.input < y.input);
                     });
    return mid;
}

std::vector<BinaryNode> build_binary(std::vector<Prim>& prims, bool sah) {
    std::vector<BinaryNode> nodes(1);
    nodes[0].begin = 0;
    nodes[0].end = uint32_t(prims.size());
    std::vector<uint32_t> todo{0};
    while (!todo.empty()) {
        const uint32_t id = todo.back();
        todo.pop_back();
        const uint32_t begin = nodes[id].begin, end = nodes[id].end;
        Box box;
        for (uint32_t i = begin; i < end; ++i) box.grow(prims[i].box);
        nodes[id].box = box;
        if (end - begin <= CPU_BVH_LEAF_TRIANGLES) continue;
        const uint32_t mid = split_range(prims, begin, end, sah);
        const uint32_t left = uint32_t(nodes.size());
        nodes.push_back(BinaryNode{Box{}, begin, mid, 0, 0});
        nodes.push_back(BinaryNode{Box{}, mid, end, 0, 0});
        nodes[id].left = left;
        nodes[id].right = left + 1;
        todo.push_back(left + 1);
        todo.push_back(left);
    }
    return nodes;
}

void set_child(GpuBvhChild& c, const Box& box, int32_t ref, uint32_t count) {
    for (int a = 0; a < 3; ++a) {
        c.lo[a] = box.lo[a];
        c.hi[a] = box.hi[a];
    }
    c.ref = ref;
    c.count = count;
}

// Folds the binary tree into four-wide nodes: each node takes its binary
// node's children and keeps opening the inner child of largest area while
// it has room.
CpuBvh collapse(const std::vector<BinaryNode>& bin, const std::vector<Prim>& prims,
                std::span<const BvhInputTriangle> input) {
    CpuBvh out;
    struct Item {
        uint32_t binary;
        uint32_t wide;
        uint32_t level;
    };
    out.nodes.emplace_back();
    std::vector<Item> todo{{0, 0, 1}};
    while (!todo.empty()) {
        const Item item = todo.back();
        todo.pop_back();
        out.depth = std::max(out.depth, item.level);
        std::vector<uint32_t> kids;
        if (bin[item.binary].left == 0) {
            kids.push_back(item.binary);
        } else {
            kids = {bin[item.binary].left, bin[item.binary].right};
        }
        while (kids.size() < CPU_BVH_WIDTH) {
            int open = -1;
            for (size_t k = 0; k < kids.size(); ++k)
                if (bin[kids[k]].left != 0 && (open < 0 || bin[kids[k]].box.area() > bin[kids[open]].box.area()))
                    open = int(k);
            if (open < 0) break;
            const BinaryNode& b = bin[kids[open]];
            kids[open] = b.left;
            kids.insert(kids.begin() + open + 1, b.right);
        }
        GpuBvhNode node{};
        for (size_t k = 0; k < kids.size(); ++k) {
            const BinaryNode& b = bin[kids[k]];
            if (b.left == 0) {
                const uint32_t first = uint32_t(out.triangles.size());
                for (uint32_t i = b.begin; i < b.end; ++i) {
                    const BvhInputTriangle& t = input[prims[i].input];
                    GpuBvhTriangle g{};
                    for (int a = 0; a < 3; ++a) {
                        g.corner[a] = t.corner[0][a];
                        g.edge1[a] = t.corner[1][a] - t.corner[0][a];
                        g.edge2[a] = t.corner[2][a] - t.corner[0][a];
                    }
                    g.instance = t.instance;
                    g.primitive = t.primitive;
                    out.triangles.push_back(g);
                }
                set_child(node.child[k], b.box, -int32_t(first) - 1, b.end - b.begin);
            } else {
                const uint32_t wide = uint32_t(out.nodes.size());
                out.nodes.emplace_back();
                set_child(node.child[k], b.box, int32_t(wide), 0);
                todo.push_back({kids[k], wide, item.level + 1});
            }
        }
        out.nodes[item.wide] = node;
    }
    return out;
}

bool finite_corners(const BvhInputTriangle& t) {
    for (const auto& c : t.corner)
        for (float v : c)
            if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

CpuBvh build_cpu_bvh(std::span<const BvhInputTriangle> triangles) {
    std::vector<Prim> prims;
    prims.reserve(triangles.size());
    // Node and triangle references are signed 32-bit.
    const size_t limit = size_t(std::numeric_limits<int32_t>::max()) - 1;
    for (size_t i = 0; i < triangles.size() && prims.size() < limit; ++i) {
        if (!finite_corners(triangles[i])) continue;
        Prim p;
        for (const auto& c : triangles[i].corner) p.box.grow(std::array<float, 3>{c[0], c[1], c[2]});
        for (int a = 0; a < 3; ++a) p.centre[a] = 0.5f * p.box.lo[a] + 0.5f * p.box.hi[a];
        p.input = uint32_t(i);
        prims.push_back(p);
    }
    if (prims.empty()) return {};
    const std::vector<Prim> original = prims;
    for (bool sah : {true, false}) {
        prims = original;
        CpuBvh bvh = collapse(build_binary(prims, sah), prims, triangles);
        if (bvh.depth <= CPU_BVH_MAX_DEPTH) return bvh;
    }
    return {};
}

std::vector<BvhInputTriangle> instance_triangles(const Scene& scene) {
    std::vector<BvhInputTriangle> out;
    for (size_t i = 0; i < scene.instances.size(); ++i) {
        const Instance& inst = scene.instances[i];
        if (inst.mesh >= scene.meshes.size()) continue;
        if (!std::all_of(std::begin(inst.transform), std::end(inst.transform),
                         [](float v) { return std::isfinite(v); }))
            continue;
        const MeshData& mesh = scene.meshes[inst.mesh];
        const float* m = inst.transform;
        for (size_t t = 0; t < mesh.triangle_count(); ++t) {
            BvhInputTriangle tri;
            bool readable = true;
            for (int c = 0; c < 3; ++c) {
                const size_t v = mesh.indices[3 * t + c];
                if (3 * v + 2 >= mesh.positions.size()) {
                    readable = false;
                    break;
                }
                const float* p = &mesh.positions[3 * v];
                for (int a = 0; a < 3; ++a)
                    tri.corner[c][a] = m[4 * a] * p[0] + m[4 * a + 1] * p[1] + m[4 * a + 2] * p[2] + m[4 * a + 3];
            }
            if (!readable) continue;
            tri.instance = uint32_t(i);
            tri.primitive = uint32_t(t);
            out.push_back(tri);
        }
    }
    return out;
}

std::vector<float> cpu_bvh_block(const CpuBvh& bvh, const Scene& scene) {
    if (bvh.nodes.empty()) return {};
    constexpr size_t kUnitFloats = 4;
    static_assert(sizeof(GpuBvhNode) % (kUnitFloats * sizeof(float)) == 0);
    static_assert(sizeof(GpuBvhTriangle) % (kUnitFloats * sizeof(float)) == 0);
    const size_t nodeUnits = bvh.nodes.size() * sizeof(GpuBvhNode) / 16;
    const size_t triangleUnits = bvh.triangles.size() * sizeof(GpuBvhTriangle) / 16;
    GpuBvhHeader header{};
    header.node_count = uint32_t(bvh.nodes.size());
    header.triangle_count = uint32_t(bvh.triangles.size());
    header.triangle_base = uint32_t(CPU_BVH_HEADER_UNITS + nodeUnits);
    header.transform_base = uint32_t(header.triangle_base + triangleUnits);
    std::vector<float> block((header.transform_base + 3 * scene.instances.size()) * kUnitFloats, 0.0f);
    std::memcpy(block.data(), &header, sizeof header);
    std::memcpy(block.data() + CPU_BVH_HEADER_UNITS * kUnitFloats, bvh.nodes.data(),
                bvh.nodes.size() * sizeof(GpuBvhNode));
    std::memcpy(block.data() + header.triangle_base * kUnitFloats, bvh.triangles.data(),
                bvh.triangles.size() * sizeof(GpuBvhTriangle));
    for (size_t i = 0; i < scene.instances.size(); ++i)
        std::memcpy(block.data() + (header.transform_base + 3 * i) * kUnitFloats, scene.instances[i].transform,
                    12 * sizeof(float));
    return block;
}
