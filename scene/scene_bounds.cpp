#include "scene/scene_bounds.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Rounding of the transformed vertices, of the centre stored as float and
// of the radius itself: the sphere is widened by this share of its radius
// and of the centre's distance from the origin, so that no vertex lies
// just outside.
constexpr double kRadiusMargin = 1e-4;

struct Box {
    double lo[3] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                    std::numeric_limits<double>::infinity()};
    double hi[3] = {-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                    -std::numeric_limits<double>::infinity()};
    bool empty() const { return !(lo[0] <= hi[0]); }
};

void add_transformed(Box& box, const MeshData& mesh, const float* t) {
    for (size_t v = 0; v + 2 < mesh.positions.size(); v += 3) {
        const float* p = &mesh.positions[v];
        double w[3];
        for (int r = 0; r < 3; ++r) w[r] = t[4 * r] * p[0] + t[4 * r + 1] * p[1] + t[4 * r + 2] * p[2] + t[4 * r + 3];
        if (!std::isfinite(w[0]) || !std::isfinite(w[1]) || !std::isfinite(w[2])) continue;
        for (int c = 0; c < 3; ++c) {
            box.lo[c] = std::min(box.lo[c], w[c]);
            box.hi[c] = std::max(box.hi[c], w[c]);
        }
    }
}

BoundingSphere sphere_about(const Box& box) {
    BoundingSphere s;
    if (box.empty()) return s;
    double r2 = 0.0, c2 = 0.0;
    for (int c = 0; c < 3; ++c) {
        const double half = 0.5 * (box.hi[c] - box.lo[c]);
        const double mid = 0.5 * (box.lo[c] + box.hi[c]);
        s.centre[c] = static_cast<float>(mid);
        r2 += half * half;
        c2 += mid * mid;
    }
    const double radius = std::sqrt(r2) * (1.0 + kRadiusMargin) + std::sqrt(c2) * kRadiusMargin;
    if (std::isfinite(radius) && radius <= std::numeric_limits<float>::max())
        s.radius = static_cast<float>(radius);
    return s;
}

void add_instance(Box& box, const Scene& scene, const Instance& inst) {
    if (inst.mesh >= scene.meshes.size()) return;
    const MeshData& mesh = scene.meshes[inst.mesh];
    add_transformed(box, mesh, inst.transform);
    if (inst.moving) add_transformed(box, mesh, inst.transform_end);
}

}  // namespace

BoundingSphere scene_bounding_sphere(const Scene& scene) {
    Box box;
    for (const Instance& inst : scene.instances) add_instance(box, scene, inst);
    return sphere_about(box);
}

BoundingSphere instance_bounding_sphere(const Scene& scene, const Instance& inst) {
    Box box;
    add_instance(box, scene, inst);
    return sphere_about(box);
}
