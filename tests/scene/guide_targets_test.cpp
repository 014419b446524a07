// Guide targets: which materials may scatter specularly, and the spheres
// around their instances that light paths aim at, placed after the other
// blocks of the parameter block.
#include <array>
#include <cmath>

#include "scene/guide_targets.h"
#include "scene_test_util.h"

namespace {

Material make_material(float base, float roughness, float metallic, float transmission) {
    Material m;
    for (float& c : m.base_color) c = base;
    m.roughness = roughness;
    m.metallic = metallic;
    m.spec_trans = transmission;
    return m;
}

TEST(GuideTargets, MaterialsThatMayBeSpecular) {
    struct Case {
        const char* name;
        Material m;
        bool expected;
    };
    Material black_light = make_material(0.0f, 0.0f, 0.0f, 0.0f);
    black_light.emission[0] = 1.0f;
    Material textured_roughness = make_material(0.8f, 0.9f, 1.0f, 0.0f);
    textured_roughness.roughness_tex = 0;
    Material textured_albedo = make_material(0.8f, 0.0f, 0.0f, 0.0f);
    textured_albedo.albedo_tex = 0;
    Material milky_glass = make_material(1.0f, 0.0f, 0.0f, 1.0f);
    milky_glass.subsurface = 0.5f;
    const Case cases[] = {
        {"smooth glass", make_material(1.0f, 0.0f, 0.0f, 1.0f), true},
        {"polished metal", make_material(0.9f, 0.05f, 1.0f, 0.0f), true},
        {"black lacquer", make_material(0.0f, 0.0f, 0.0f, 0.0f), true},
        {"textured metal roughness", textured_roughness, true},
        {"textured albedo", textured_albedo, true},
        {"rough metal", make_material(0.9f, 0.5f, 1.0f, 0.0f), false},
        {"white plastic", make_material(0.8f, 0.0f, 0.0f, 0.0f), false},
        {"black emitter", black_light, false},
        {"subsurface glass", milky_glass, false},
    };
    for (const Case& c : cases) EXPECT_EQ(material_may_be_specular(c.m), c.expected) << c.name;
}

// A tetrahedron with corners at the origin and on the three axes at `size`.
MeshData tetrahedron(float size) {
    MeshData mesh;
    mesh.positions = {0, 0, 0, size, 0, 0, 0, size, 0, 0, 0, size};
    mesh.indices = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
    return mesh;
}

Instance placed(uint32_t mesh, int32_t material, float x) {
    Instance inst;
    inst.mesh = mesh;
    inst.material = material;
    inst.transform[3] = x;
    return inst;
}

bool covers(const float* target, const Scene& scene, const Instance& inst, const float* transform) {
    const std::vector<float>& p = scene.meshes[inst.mesh].positions;
    for (size_t v = 0; v < p.size(); v += 3) {
        double d2 = 0.0;
        for (int r = 0; r < 3; ++r) {
            const float* t = transform + 4 * r;
            const double w = t[0] * p[v] + t[1] * p[v + 1] + t[2] * p[v + 2] + t[3];
            d2 += (w - target[r]) * (w - target[r]);
        }
        if (std::sqrt(d2) > target[3]) return false;
    }
    return true;
}

// One diffuse, one moving glass and one glass instance with a broken
// transform, in a scene with an extra object and a camera animation: one
// target, after the animation block, around both places of the moving one.
TEST(GuideTargets, FollowTheAnimationBlockAndCoverAMovingInstance) {
    Scene scene;
    scene.materials = {make_material(0.8f, 1.0f, 0.0f, 0.0f), make_material(1.0f, 0.0f, 0.0f, 1.0f)};
    scene.meshes = {tetrahedron(1.0f)};
    scene.instances = {placed(0, 0, 0.0f), placed(0, 1, 3.0f), placed(0, 1, 6.0f)};
    scene.instances[1].moving = true;
    std::copy_n(scene.instances[1].transform, 12, scene.instances[1].transform_end);
    scene.instances[1].transform_end[7] = 2.0f;
    scene.instances[2].transform[0] = std::nanf("");
    scene.de_objects.resize(1);
    scene.camera_keyframes = {CameraKeyframe{0.0f, {0, 0, 5}, {0, 0, 0}}, CameraKeyframe{1.0f, {1, 0, 5}, {0, 0, 0}}};
    scene_test::prepare(scene);
    const std::vector<float>& p = scene.scene_params;
    const size_t at = SCENE_PARAMS_HEADER_FLOATS + SP_DE_BLOCK_FLOATS + SP_ANIM_HEADER_FLOATS + 2 * SP_KEYFRAME_FLOATS;
    ASSERT_EQ(p[SP_GUIDE_COUNT], 1.0f);
    ASSERT_EQ(p.size(), at + GUIDE_TARGET_FLOATS);
    const Instance& moving = scene.instances[1];
    EXPECT_TRUE(covers(&p[at], scene, moving, moving.transform));
    EXPECT_TRUE(covers(&p[at], scene, moving, moving.transform_end));

    // Expression graphs may make the diffuse material specular.
    EXPECT_EQ(guide_targets(scene, {true}).size(), 2u);
    // A scene without specular instances ends where it always did.
    scene.materials[1] = scene.materials[0];
    scene_test::prepare(scene);
    EXPECT_EQ(scene.scene_params[SP_GUIDE_COUNT], 0.0f);
    EXPECT_EQ(scene.scene_params.size(), at);
}

// More candidates than targets: the largest keep their own spheres and
// the last target holds all the others.
TEST(GuideTargets, SurplusCandidatesShareTheLastTarget) {
    Scene scene;
    scene.materials = {make_material(1.0f, 0.0f, 0.0f, 1.0f)};
    const int count = GUIDE_TARGET_MAX + 3;
    for (int i = 0; i < count; ++i) {
        scene.meshes.push_back(tetrahedron(1.0f + static_cast<float>(i)));
        scene.instances.push_back(placed(static_cast<uint32_t>(i), 0, 20.0f * static_cast<float>(i)));
    }
    const std::vector<BoundingSphere> targets = guide_targets(scene, {});
    ASSERT_EQ(targets.size(), static_cast<size_t>(GUIDE_TARGET_MAX));
    for (int i = 0; i < count; ++i) {
        const Instance& inst = scene.instances[static_cast<size_t>(i)];
        const size_t own = static_cast<size_t>(count - 1 - i);  // largest first
        const BoundingSphere& t = targets[std::min(own, targets.size() - 1)];
        const std::array<float, 4> target = {t.centre[0], t.centre[1], t.centre[2], t.radius};
        EXPECT_TRUE(covers(target.data(), scene, inst, inst.transform)) << "instance " << i;
    }
}

}  // namespace
