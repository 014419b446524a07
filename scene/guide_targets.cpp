#include "scene/guide_targets.h"

#include <algorithm>
#include <cmath>

namespace {

// Float rounding of a merged sphere's centre and radius: the radius grows
// by this share so that the merged spheres stay inside.
constexpr double kMergeMargin = 1e-5;

bool finite_transform(const float* t) {
    return std::all_of(t, t + 12, [](float v) { return std::isfinite(v); });
}

bool material_flagged(const Scene& scene, const std::vector<bool>& graph_driven, int32_t id) {
    if (id < 0 || static_cast<size_t>(id) >= scene.materials.size()) return false;
    const size_t i = static_cast<size_t>(id);
    return (i < graph_driven.size() && graph_driven[i]) || material_may_be_specular(scene.materials[i]);
}

bool any_flagged(const Scene& scene, const std::vector<bool>& graph_driven, const std::vector<int32_t>& ids) {
    return std::any_of(ids.begin(), ids.end(),
                       [&](int32_t id) { return material_flagged(scene, graph_driven, id); });
}

bool instance_may_be_specular(const Scene& scene, const std::vector<bool>& graph_driven, const Instance& inst) {
    if (material_flagged(scene, graph_driven, inst.material)) return true;
    if (inst.has_face_materials && any_flagged(scene, graph_driven, inst.face_materials)) return true;
    const MeshData& mesh = scene.meshes[inst.mesh];
    return mesh.has_face_materials && any_flagged(scene, graph_driven, mesh.face_materials);
}

// The sphere around spheres a and b.
BoundingSphere enclose(const BoundingSphere& a, const BoundingSphere& b) {
    double d2 = 0.0;
    for (int c = 0; c < 3; ++c) d2 += (double{b.centre[c]} - a.centre[c]) * (double{b.centre[c]} - a.centre[c]);
    const double d = std::sqrt(d2);
    if (d + b.radius <= a.radius) return a;
    if (d + a.radius <= b.radius) return b;
    const double r = 0.5 * (d + a.radius + b.radius);
    BoundingSphere s;
    for (int c = 0; c < 3; ++c)
        s.centre[c] = static_cast<float>(a.centre[c] + (r - a.radius) / d * (double{b.centre[c]} - a.centre[c]));
    s.radius = static_cast<float>(r * (1.0 + kMergeMargin));
    return s;
}

}  // namespace

bool material_may_be_specular(const Material& m) {
    const bool sharp = m.roughness_tex >= 0 || m.roughness < SPECULAR_ROUGHNESS_MAX;
    // An emitter's black base colour is mostly one left unset, and its
    // sphere would hold its own light: only black surfaces that do not emit
    // count as black mirrors.
    const bool emitter = m.emission[0] > 0.0f || m.emission[1] > 0.0f || m.emission[2] > 0.0f;
    const bool black = !emitter && !(std::max({m.base_color[0], m.base_color[1], m.base_color[2]}) > 0.0f);
    const bool no_diffuse =
        m.metallic > 0.0f || m.spec_trans > 0.0f || m.metallic_tex >= 0 || m.albedo_tex >= 0 || black;
    return sharp && no_diffuse && !(m.subsurface > 0.0f);
}

std::vector<BoundingSphere> guide_targets(const Scene& scene, const std::vector<bool>& graph_driven) {
    std::vector<BoundingSphere> found;
    for (const Instance& inst : scene.instances) {
        if (inst.mesh >= scene.meshes.size() || !finite_transform(inst.transform)) continue;
        if (inst.moving && !finite_transform(inst.transform_end)) continue;
        if (!instance_may_be_specular(scene, graph_driven, inst)) continue;
        const BoundingSphere s = instance_bounding_sphere(scene, inst);
        if (s.radius > 0.0f) found.push_back(s);
    }
    if (found.size() <= GUIDE_TARGET_MAX) return found;
    std::stable_sort(found.begin(), found.end(),
                     [](const BoundingSphere& a, const BoundingSphere& b) { return a.radius > b.radius; });
    BoundingSphere rest = found[GUIDE_TARGET_MAX - 1];
    for (size_t i = GUIDE_TARGET_MAX; i < found.size(); ++i) rest = enclose(rest, found[i]);
    found.resize(GUIDE_TARGET_MAX);
    found.back() = rest;
    return found;
}

void write_guide_targets(Scene& scene, const std::vector<bool>& graph_driven) {
    const std::vector<BoundingSphere> targets = guide_targets(scene, graph_driven);
    std::vector<float>& p = scene.scene_params;
    // The targets follow the extra-object and animation blocks, where the
    // GPU programs find them from the counts in the header.
    const size_t at =
        SP_GUIDE_TARGETS_AT(static_cast<size_t>(p[SP_DE_COUNT]), static_cast<size_t>(p[SP_KEYFRAME_COUNT]));
    p.resize(at + GUIDE_TARGET_FLOATS * targets.size());
    p[SP_GUIDE_COUNT] = static_cast<float>(targets.size());
    for (size_t k = 0; k < targets.size(); ++k) {
        float* block = p.data() + at + GUIDE_TARGET_FLOATS * k;
        std::copy_n(targets[k].centre, 3, block);
        block[3] = targets[k].radius;
    }
}
