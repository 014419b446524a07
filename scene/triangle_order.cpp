#include "scene/triangle_order.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

struct Box {
    float lo[3] = {INFINITY, INFINITY, INFINITY};
    float hi[3] = {-INFINITY, -INFINITY, -INFINITY};

    void add(const Box& b) {
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], b.lo[a]);
            hi[a] = std::max(hi[a], b.hi[a]);
        }
    }
    double area() const {
        double d[3];
        for (int a = 0; a < 3; ++a) d[a] = hi[a] >= lo[a] ? double{hi[a]} - lo[a] : 0.0;
        return 2.0 * (d[0] * d[1] + d[1] * d[2] + d[2] * d[0]);
    }
};

// Bounds of every triangle. A vertex index past the vertex list reads vertex
// 0 (as the packed index buffer makes it) and a coordinate that is not
// finite reads 0, so that every key below is an ordinary number.
std::vector<Box> triangle_boxes(const MeshData& mesh) {
    const size_t vertices = mesh.vertex_count();
    std::vector<Box> boxes(mesh.triangle_count());
    for (size_t t = 0; t < boxes.size(); ++t)
        for (int k = 0; k < 3; ++k) {
            uint32_t v = mesh.indices[3 * t + static_cast<size_t>(k)];
            if (v >= vertices) v = 0;
            for (int a = 0; a < 3; ++a) {
                const float c = vertices == 0 ? 0.0f : mesh.positions[3 * size_t{v} + static_cast<size_t>(a)];
                const float x = std::isfinite(c) ? c : 0.0f;
                boxes[t].lo[a] = std::min(boxes[t].lo[a], x);
                boxes[t].hi[a] = std::max(boxes[t].hi[a], x);
            }
        }
    return boxes;
}

// Triangles the halving builder puts into the first child of a node over n
// triangles: the node over [first, last] splits at (first + last) / 2.
size_t first_half(size_t n) { return (n - 1) / 2 + 1; }

// Box of the node over order[begin, end), adding the areas of the boxes of
// its descendants to `cost`.
Box halving_node(const std::vector<Box>& boxes, const std::vector<uint32_t>& order, size_t begin,
                 size_t end, double& cost) {
    if (end - begin == 1) return boxes[order[begin]];
    const size_t mid = begin + first_half(end - begin);
    Box box = halving_node(boxes, order, begin, mid, cost);
    const Box right = halving_node(boxes, order, mid, end, cost);
    cost += box.area() + right.area();
    box.add(right);
    return box;
}

double tree_cost(const std::vector<Box>& boxes, const std::vector<uint32_t>& order) {
    double cost = 0.0;
    if (!order.empty()) halving_node(boxes, order, 0, order.size(), cost);
    return cost;
}

// Spreads the low 21 bits of v to every third bit.
uint64_t spread_bits(uint64_t v) {
    v &= 0x1fffff;
    v = (v | v << 32) & 0x1f00000000ffffull;
    v = (v | v << 16) & 0x1f0000ff0000ffull;
    v = (v | v << 8) & 0x100f00f00f00f00full;
    v = (v | v << 4) & 0x10c30c30c30c30c3ull;
    v = (v | v << 2) & 0x1249249249249249ull;
    return v;
}

constexpr double kMortonCells = 2097151.0;  // 2^21 - 1 cells per axis

double centre(const Box& b, int axis) { return 0.5 * (double{b.lo[axis]} + b.hi[axis]); }

// Triangles sorted along the Morton curve through their box centres: under
// halving, every node then holds one compact stretch of the curve.
std::vector<uint32_t> morton_order(const std::vector<Box>& boxes) {
    // In double precision: the centre of two large floats may exceed float.
    double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const Box& b : boxes)
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], centre(b, a));
            hi[a] = std::max(hi[a], centre(b, a));
        }
    struct Keyed {
        uint64_t code;
        uint32_t index;
    };
    std::vector<Keyed> keyed(boxes.size());
    for (size_t t = 0; t < boxes.size(); ++t) {
        uint64_t code = 0;
        for (int a = 0; a < 3; ++a) {
            const double extent = hi[a] - lo[a];
            const double cell =
                extent > 0.0 ? std::clamp((centre(boxes[t], a) - lo[a]) / extent, 0.0, 1.0) * kMortonCells : 0.0;
            code |= spread_bits(static_cast<uint64_t>(cell)) << a;
        }
        keyed[t] = {code, static_cast<uint32_t>(t)};
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& x, const Keyed& y) {
        return x.code < y.code || (x.code == y.code && x.index < y.index);
    });
    std::vector<uint32_t> order(keyed.size());
    for (size_t i = 0; i < keyed.size(); ++i) order[i] = keyed[i].index;
    return order;
}

template <typename T>
void permute(std::vector<T>& values, const std::vector<uint32_t>& order, size_t per_triangle) {
    std::vector<T> out(values.size());
    for (size_t i = 0; i < order.size(); ++i)
        std::copy_n(values.begin() + static_cast<ptrdiff_t>(per_triangle * order[i]), per_triangle,
                    out.begin() + static_cast<ptrdiff_t>(per_triangle * i));
    values.swap(out);
}

// A per-triangle list is moved with its triangles when it is absent or
// complete; a partial one (its tail taking defaults) would not say which
// triangle a default belongs to once they move.
bool movable(size_t size, size_t per_triangle, size_t triangles) {
    return size == 0 || size == per_triangle * triangles;
}

}  // namespace

double halving_tree_cost(const MeshData& mesh, const std::vector<uint32_t>& order) {
    return tree_cost(triangle_boxes(mesh), order);
}

std::vector<uint32_t> trace_triangle_order(const MeshData& mesh) {
    const size_t n = mesh.triangle_count();
    if (n <= 2) return {};
    const std::vector<Box> boxes = triangle_boxes(mesh);
    std::vector<uint32_t> own(n);
    std::iota(own.begin(), own.end(), 0u);
    std::vector<uint32_t> order = morton_order(boxes);
    if (!(tree_cost(boxes, order) < kTriangleOrderGain * tree_cost(boxes, own))) return {};
    return order;
}

void order_scene_triangles(Scene& scene) {
    for (size_t m = 0; m < scene.meshes.size(); ++m) {
        MeshData& mesh = scene.meshes[m];
        if (mesh.trace_ordered) continue;
        mesh.trace_ordered = true;
        const size_t n = mesh.triangle_count();
        bool can_move = mesh.indices.size() == 3 * n && movable(mesh.face_normals.size(), 3, n) &&
                        movable(mesh.face_materials.size(), 1, n);
        for (const Instance& inst : scene.instances)
            if (inst.mesh == m) can_move = can_move && movable(inst.face_materials.size(), 1, n);
        if (!can_move) continue;
        const std::vector<uint32_t> order = trace_triangle_order(mesh);
        if (order.empty()) continue;
        permute(mesh.indices, order, 3);
        if (!mesh.face_normals.empty()) permute(mesh.face_normals, order, 3);
        if (!mesh.face_materials.empty()) permute(mesh.face_materials, order, 1);
        for (Instance& inst : scene.instances)
            if (inst.mesh == m && !inst.face_materials.empty()) permute(inst.face_materials, order, 1);
    }
}
