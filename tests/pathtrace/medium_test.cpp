// Media inside closed meshes: absorption in glass and the random-walk
// subsurface medium, against furnace and slab scenes with known images.
#include <array>
#include <cmath>

#include "pathtrace/path_test_support.h"

namespace {

constexpr float kOrigin[3] = {0.0f, 0.0f, 0.0f};

// Axis-aligned box between `lo` and `hi`, every triangle wound outwards.
MeshData box_mesh(const float lo[3], const float hi[3]) {
    MeshData mesh;
    for (int i = 0; i < 8; ++i) {
        for (int a = 0; a < 3; ++a) mesh.positions.push_back((i >> a) & 1 ? hi[a] : lo[a]);
    }
    // Each face as a corner cycle; the winding is fixed below by the normal.
    const uint32_t faces[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                  {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
    auto corner = [&](uint32_t v, int a) { return mesh.positions[3 * v + a]; };
    for (const auto& f : faces) {
        const std::array<uint32_t, 3> triangles[2] = {{f[0], f[1], f[2]}, {f[0], f[2], f[3]}};
        for (const auto& t : triangles) {
            float e1[3], e2[3], out[3];
            for (int a = 0; a < 3; ++a) {
                e1[a] = corner(t[1], a) - corner(t[0], a);
                e2[a] = corner(t[2], a) - corner(t[0], a);
                out[a] = corner(t[0], a) + corner(t[1], a) + corner(t[2], a) - 1.5f * (lo[a] + hi[a]);
            }
            const float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                e1[0] * e2[1] - e1[1] * e2[0]};
            const bool outwards = n[0] * out[0] + n[1] * out[1] + n[2] * out[2] > 0.0f;
            mesh.indices.insert(mesh.indices.end(), {t[0], outwards ? t[1] : t[2], outwards ? t[2] : t[1]});
        }
    }
    return mesh;
}

// A slab `thickness` deep across the whole (narrow) view, in a uniform
// environment of radiance 1 that lights it from behind and in front. The
// view is 2 degrees wide, so every ray crosses the slab within 0.02 % of
// its thickness.
Scene slab_scene(const Material& m, float thickness) {
    Scene scene;
    scene.materials.push_back(m);
    const float lo[3] = {-2.0f, -2.0f, -0.5f * thickness}, hi[3] = {2.0f, 2.0f, 0.5f * thickness};
    add_mesh_instance(scene, box_mesh(lo, hi), 0);
    set_uniform_environment(scene, 1.0f);
    const float eye[3] = {0.0f, 0.0f, 5.0f};
    set_camera(scene, eye, kOrigin, 2.0f);
    return scene;
}

Material glass(float ior, const Rgb& color, float distance) {
    Material m = diffuse_material(1.0f);
    m.spec_trans = 1.0f;
    m.roughness = 0.0f;
    m.ior = ior;
    m.specular = 0.5f;
    for (int c = 0; c < 3; ++c) m.transmission_color[c] = static_cast<float>(color[c]);
    m.transmission_extra = distance;
    return m;
}

void expect_image_near(const Accumulation& a, const Rgb& expected, double tolerance) {
    const Rgb m = a.region_mean(0, 0, a.width, a.height);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(m[c], expected[c], tolerance * expected[c]) << "channel " << c;
    EXPECT_EQ(a.dropped(), 0);
}

}  // namespace

class MediumTest : public PathTest {};

// Light that crosses d = 2 absorption distances of a colour keeps colour^2.
TEST_F(MediumTest, IndexMatchedGlassAbsorbsByBeerLambert) {
    const Rgb color = {0.5, 0.25, 0.8};
    const Accumulation a = render(slab_scene(glass(1.0f, color, 1.0f), 2.0f), 32, 4);
    expect_image_near(a, {color[0] * color[0], color[1] * color[1], color[2] * color[2]}, 0.01);
}

// Liquid in a glass: a slab of one colour inside a thicker slab of
// another, both index-matched. After the inner body the ray is back in the
// outer one, so each colour applies over its own path length: 1 for both.
TEST_F(MediumTest, NestedBodiesEachAbsorbOverTheirOwnPath) {
    const Rgb outer = {0.5, 0.8, 0.9}, inner = {0.9, 0.4, 0.6};
    Scene scene = slab_scene(glass(1.0f, outer, 1.0f), 2.0f);
    scene.materials.push_back(glass(1.0f, inner, 1.0f));
    const float lo[3] = {-1.5f, -1.5f, -0.5f}, hi[3] = {1.5f, 1.5f, 0.5f};
    add_mesh_instance(scene, box_mesh(lo, hi), 1);
    expect_image_near(render(scene, 32, 4), {outer[0] * inner[0], outer[1] * inner[1], outer[2] * inner[2]},
                      0.01);
}

// At normal incidence each face reflects R = ((n - 1) / (n + 1))^2. With
// internal transmittance T the slab transmits (1 - R)^2 T / (1 - R^2 T^2)
// and reflects R + (1 - R)^2 R T^2 / (1 - R^2 T^2); the environment is 1
// on both sides, so the image is their sum.
TEST_F(MediumTest, RefractingGlassSlabMatchesFresnelAndAbsorption) {
    const double n = 1.5, r = std::pow((n - 1) / (n + 1), 2), thickness = 0.5, distance = 0.25;
    const Rgb color = {0.6, 0.3, 0.9};
    const Accumulation a = render(slab_scene(glass(float(n), color, float(distance)), float(thickness)), 32, 64);
    Rgb expected;
    for (int c = 0; c < 3; ++c) {
        const double t = std::pow(color[c], thickness / distance);
        const double denom = 1 - r * r * t * t;
        expected[c] = (1 - r) * (1 - r) * t / denom + r + (1 - r) * (1 - r) * r * t * t / denom;
    }
    expect_image_near(a, expected, 0.01);
}

namespace {

Material subsurface(float albedo, const Rgb& radius, float scale, float ior, float anisotropy) {
    Material m = diffuse_material(albedo);
    m.subsurface = 1.0f;
    for (int c = 0; c < 3; ++c) m.subsurface_radius[c] = static_cast<float>(radius[c]);
    m.subsurface_scale = scale;
    m.subsurface_ext[0] = ior;
    m.subsurface_ext[1] = anisotropy;
    m.ior = ior;
    return m;
}

// A white (lossless) medium returns all light: the sphere vanishes in
// uniform light, with per-channel mean free paths, a refracting boundary
// (smooth or rough) under its specular layer, internal reflection and
// forward scattering.
Scene lossless_subsurface_sphere(float roughness = 0.0f) {
    Material m = subsurface(1.0f, {1.0, 0.7, 0.5}, 0.3f, 1.4f, 0.3f);
    m.specular = 0.5f;
    m.roughness = roughness;
    return furnace_scene(m);
}

}  // namespace

TEST_F(MediumTest, LosslessSubsurfaceSphereVanishesInUniformLight) {
    for (float roughness : {0.0f, 0.5f}) {
        SCOPED_TRACE(roughness);
        expect_image_near(render(lossless_subsurface_sphere(roughness), 32, 32), {1.0, 1.0, 1.0}, 0.01);
    }
}

// A black sheet inside the body is not its boundary: walks pass it, and
// the sphere still returns all light.
TEST_F(MediumTest, SubsurfaceWalksPassOtherSurfacesInsideTheBody) {
    Scene scene = lossless_subsurface_sphere();
    scene.materials.push_back(diffuse_material(0.0f));
    const float a[3] = {-0.5f, -0.5f, 0.0f}, b[3] = {0.5f, -0.5f, 0.0f}, c[3] = {0.5f, 0.5f, 0.0f},
                d[3] = {-0.5f, 0.5f, 0.0f};
    add_mesh_instance(scene, quad_mesh(a, b, c, d), 1);
    expect_image_near(render(scene, 32, 32), {1.0, 1.0, 1.0}, 0.01);
}

// A black medium only absorbs: across an index-matched slab of optical
// depth tau per channel, exp(-tau) of the backlight arrives unscattered.
TEST_F(MediumTest, AbsorbingSubsurfaceSlabTransmitsExpMinusTau) {
    const Rgb radius = {1.0, 0.5, 0.25};
    const float thickness = 0.5f;
    const Accumulation a = render(slab_scene(subsurface(0.0f, radius, 1.0f, 1.0f, 0.0f), thickness), 32, 128);
    Rgb expected;
    for (int c = 0; c < 3; ++c) expected[c] = std::exp(-thickness / radius[c]);
    expect_image_near(a, expected, 0.01);
}

// A rough subsurface sphere and a coloured glass sphere in the Cornell box:
// walks gather the small light through their boundary, and their random
// numbers depend only on pixel, sample and vertex, so two batches of 8
// repeat one of 16 bit for bit.
TEST_F(MediumTest, MediaUnderASmallLightRepeatToTheBit) {
    Scene scene = cornell_box_scene();
    Material skin = subsurface(0.8f, {1.0, 0.5, 0.25}, 30.0f, 1.4f, 0.0f);
    skin.roughness = 0.4f;
    skin.specular = 0.5f;
    scene.materials.push_back(skin);
    scene.materials.push_back(glass(1.5f, {0.9, 0.5, 0.3}, 100.0f));
    const float skin_centre[3] = {400.0f, 100.0f, 150.0f}, glass_centre[3] = {150.0f, 300.0f, 200.0f};
    add_mesh_instance(scene, sphere_mesh(skin_centre, 80.0f), static_cast<int>(scene.materials.size()) - 2);
    add_mesh_instance(scene, sphere_mesh(glass_centre, 60.0f), static_cast<int>(scene.materials.size()) - 1);
    prepare(scene, 32);
    const Accumulation once = expect_split_repeats(8);
    EXPECT_EQ(once.dropped(), 0);
    EXPECT_GT(once.region_mean(0, 0, 32, 32)[0], 0.0);
}
