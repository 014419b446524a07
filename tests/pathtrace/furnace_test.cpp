// Furnace and analytic scenes: configurations whose exact image is known.
#include <cmath>

#include "pathtrace/path_test_support.h"

namespace {

constexpr int kSize = 64;
constexpr int kRegion = 16;  // the image is judged in kRegion x kRegion blocks
constexpr float kOrigin[3] = {0.0f, 0.0f, 0.0f};

// Every region's mean of every channel lies within `tolerance` of `expected`.
void expect_regions_near(const Accumulation& a, double expected, double tolerance) {
    for (int y = 0; y < a.height; y += kRegion)
        for (int x = 0; x < a.width; x += kRegion) {
            const Rgb m = a.region_mean(x, y, x + kRegion, y + kRegion);
            for (double v : m)
                EXPECT_NEAR(v, expected, tolerance * expected) << "region at " << x << ", " << y;
        }
    EXPECT_EQ(a.dropped(), 0);
}

}  // namespace

class FurnaceTest : public PathTest {};

TEST_F(FurnaceTest, WhiteDiffuseSphereVanishesInUniformLight) {
    expect_regions_near(render(furnace_scene(diffuse_material(1.0f)), kSize, 64), 1.0, 0.005);
}

TEST_F(FurnaceTest, RoughWhiteMetalKeepsItsEnergy) {
    Material metal = diffuse_material(1.0f);
    metal.metallic = 1.0f;
    metal.roughness = 0.7f;
    expect_regions_near(render(furnace_scene(metal), kSize, 64), 1.0, 0.01);
}

// Smooth to very rough: light inside the sphere meets the interface in its
// total-internal-reflection range, so this holds only when the
// compensation covers both sides of the interface.
TEST_F(FurnaceTest, RoughGlassKeepsItsEnergy) {
    for (float roughness : {0.1f, 0.5f, 0.9f}) {
        Material glass = diffuse_material(1.0f);
        glass.spec_trans = 1.0f;
        glass.roughness = roughness;
        glass.specular = 0.5f;
        SCOPED_TRACE(roughness);
        expect_regions_near(render(furnace_scene(glass), 32, 64), 1.0, 0.01);
    }
}

namespace {

// Everything emits 0.5 and reflects half: a diffuse sphere inside an
// enclosing sphere. In equilibrium every surface has radiance
// 0.5 / (1 - 0.5) = 1; paths that end after the light leaving vertex B
// gather 0.5 (1 + 1/2 + ... + 1/2^(B+1)).
Scene enclosure_scene() {
    Scene scene;
    scene.materials.push_back(diffuse_material(0.5f, 0.5f));
    add_mesh_instance(scene, sphere_mesh(kOrigin, 1.0f), 0);
    add_mesh_instance(scene, sphere_mesh(kOrigin, 4.0f, true), 0);
    const float eye[3] = {0.0f, 0.5f, 3.0f};
    set_camera(scene, eye, kOrigin, 60.0f);
    return scene;
}

double truncated_series(int bounces) {
    double sum = 0.0;
    for (int k = 0; k <= bounces + 1; ++k) sum += 0.5 * std::pow(0.5, k);
    return sum;
}

}  // namespace

TEST_F(FurnaceTest, GlowingEnclosureReachesEquilibrium) {
    expect_regions_near(render(enclosure_scene(), kSize, 32), 1.0, 0.01);
}

TEST_F(FurnaceTest, BounceLimitCutsTheSeriesAfterTheLastVertex) {
    prepare(enclosure_scene(), 32);
    for (int bounces : {1, 2}) {
        batch(32, 0, true, bounces);
        const Accumulation a = accumulation();
        const Rgb m = a.region_mean(0, 0, a.width, a.height);
        EXPECT_NEAR(m[0], truncated_series(bounces), 0.005) << bounces << " bounces";
    }
}

namespace {

// A black quad between the camera and the furnace sphere, covering the view.
Scene veiled_furnace(int alpha_mode, float alpha) {
    Scene scene = furnace_scene(diffuse_material(1.0f));
    Material veil = diffuse_material(0.0f);
    veil.alpha_mode = alpha_mode;
    veil.alpha = alpha;
    veil.alpha_cutoff = 0.5f;
    scene.materials.push_back(veil);
    const float a[3] = {-3, -3, 2}, b[3] = {3, -3, 2}, c[3] = {3, 3, 2}, d[3] = {-3, 3, 2};
    add_mesh_instance(scene, quad_mesh(a, b, c, d), 1);
    return scene;
}

}  // namespace

TEST_F(FurnaceTest, CutOutSurfacesAreNeitherSeenNorCastShadows) {
    expect_regions_near(render(veiled_furnace(1, 0.2f), kSize, 64), 1.0, 0.005);
}

TEST_F(FurnaceTest, BlendedSurfacesLetThroughOneMinusAlpha) {
    Scene scene = veiled_furnace(2, 0.25f);
    scene.instances.erase(scene.instances.begin());  // the veil over the bare environment
    expect_regions_near(render(scene, 32, 64), 0.75, 0.02);
}

namespace {

// A white floor under a lamp that faces down (towards the floor) or up,
// seen from between the two.
Scene floor_and_lamp(bool lamp_faces_floor) {
    Scene scene = floor_under_lamp({2.0f, 0.3f, 0.8f, 5.0f, lamp_faces_floor});
    const float eye[3] = {0.0f, 0.5f, 3.0f};
    const float target[3] = {0.0f, 0.3f, 0.0f};
    set_camera(scene, eye, target, 60.0f);
    return scene;
}

}  // namespace

TEST_F(FurnaceTest, EmittersShineFromTheirFrontSideOnly) {
    const Accumulation lit = render(floor_and_lamp(true), 32, 8, 6);
    EXPECT_GT(lit.region_mean(0, 16, 32, 32)[0], 0.01);  // the floor
    const Accumulation dark = render(floor_and_lamp(false), 32, 8, 6);
    for (size_t i = 0; i < dark.eye.size(); i += 4) ASSERT_EQ(dark.eye[i], 0.0f) << "pixel " << i / 4;
}
