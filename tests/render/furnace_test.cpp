// Furnace and analytic scenes: configurations whose exact image is known.
#include <cmath>

#include "render/render_test_support.h"

namespace {

constexpr int kSize = 64;
constexpr int kRegion = 16;  // the image is judged in kRegion x kRegion blocks
constexpr float kOrigin[3] = {0.0f, 0.0f, 0.0f};

// A sphere of material `m` at the origin inside a uniform environment of
// radiance 1, filling most of the view.
Scene furnace_scene(const Material& m) {
    Scene scene;
    scene.materials.push_back(m);
    add_mesh_instance(scene, sphere_mesh(kOrigin, 1.0f), 0);
    set_uniform_environment(scene, 1.0f);
    const float eye[3] = {0.0f, 0.0f, 3.0f};
    set_camera(scene, eye, kOrigin, 45.0f);
    return scene;
}

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

class FurnaceTest : public RenderTest {};

TEST_F(FurnaceTest, WhiteDiffuseSphereVanishesInUniformLight) {
    expect_regions_near(render(furnace_scene(diffuse_material(1.0f)), kSize, 64), 1.0, 0.005);
}
