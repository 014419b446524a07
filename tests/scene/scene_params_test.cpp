// The scene parameter block: header, extra-object blocks, camera animation
// block and the camera image plane.
#include <limits>

#include "scene/render_output.h"
#include "scene_test_util.h"

namespace {

float length3(const float* v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// A camera at the origin looking down -z with +y up, so that the image plane
// axes are the world axes.
void axis_camera(Scene& scene, float fov) {
    const float pos[3] = {0, 0, 0}, look[3] = {0, 0, -1}, up[3] = {0, 1, 0};
    std::copy_n(pos, 3, scene.camera_position);
    std::copy_n(look, 3, scene.camera_look_at);
    std::copy_n(up, 3, scene.camera_up);
    scene.camera_fov = fov;
}

TEST(SceneParams, UnrenderableSizesAreRefusedBeforeAnyChange) {
    const struct { int w, h; float scale; } cases[] = {
        {-1, 64, 1.0f}, {64, 0, 1.0f}, {64, 64, 0.0f}, {64, 64, -1.0f}, {64, 64, NAN}, {64, 64, INFINITY}};
    for (const auto& c : cases) {
        Scene scene;
        scene.scene_params = {7.0f};
        EXPECT_THROW(build_scene_buffer(scene, c.w, c.h, c.scale), std::invalid_argument);
        EXPECT_EQ(scene.scene_params, std::vector<float>{7.0f});
    }
}

TEST(SceneParams, EmptySceneAndOneKeyframeHaveABareHeader) {
    Scene scene;
    const std::string out = scene_test::prepare(scene);
    EXPECT_EQ(out, "Scene buffer: 0 lights, 0 DE, 0 meshes, 0 instances\n");
    ASSERT_EQ(scene.scene_params.size(), 32u);
    EXPECT_EQ(scene.scene_params[0], 0.0f);
    EXPECT_EQ(scene.scene_params[22], 0.0f);
    EXPECT_EQ(scene.scene_params[23], 0.0f);
    EXPECT_EQ(scene.scene_params[24], 0.0f);
    EXPECT_TRUE(scene.light_cdf.empty());
    EXPECT_TRUE(scene.light_pdf.empty());
    EXPECT_TRUE(scene.emissive_instances.empty());
    // One keyframe is no animation: no animation block.
    scene.camera_keyframes.resize(1);
    scene_test::prepare(scene);
    EXPECT_EQ(scene.scene_params.size(), 32u);
    EXPECT_EQ(scene.scene_params[21], 0.0f);
}

TEST(SceneParams, HeaderCarriesCountsCameraAndFlags) {
    Scene scene;
    scene.materials.resize(3);
    scene.meshes.resize(2);
    scene.instances.resize(4);
    scene.instances[2].moving = true;
    scene.camera_position[0] = 1.5f;
    scene.camera_position[1] = -2.5f;
    scene.camera_position[2] = 3.5f;
    scene.camera_aperture = 0.125f;
    scene.camera_focus_distance = 7.25f;
    scene.shutter_frames = 2.5f;
    const std::string out = scene_test::prepare(scene);
    EXPECT_EQ(out, "Scene buffer: 0 lights, 0 DE, 2 meshes, 4 instances\n");
    const std::vector<float>& p = scene.scene_params;
    ASSERT_EQ(p.size(), 32u);
    EXPECT_EQ(p[2], 3.0f);
    EXPECT_EQ(p[4], 1.5f);
    EXPECT_EQ(p[5], -2.5f);
    EXPECT_EQ(p[6], 3.5f);
    EXPECT_EQ(p[7], 0.125f);
    EXPECT_EQ(p[11], 7.25f);
    EXPECT_EQ(p[25], 2.5f);
    EXPECT_EQ(p[26], 1.0f);
    for (int i : {1, 3, 15, 19, 20, 21, 27, 28, 29, 30, 31}) EXPECT_EQ(p[i], 0.0f) << "index " << i;

    scene.instances[2].moving = false;
    scene_test::prepare(scene);
    EXPECT_EQ(scene.scene_params[26], 0.0f);
}

TEST(SceneParams, ExtraObjectBlocksFollowTheHeader) {
    Scene scene;
    scene.de_objects.resize(2);
    scene.de_objects[0] = DeObject{{1, 2, 3, 4}, 7};
    scene.de_objects[1] = DeObject{{-1, -2, -3, -4}, -3};
    const std::string out = scene_test::prepare(scene);
    EXPECT_EQ(out, "Scene buffer: 0 lights, 2 DE, 0 meshes, 0 instances\n");
    const std::vector<float>& p = scene.scene_params;
    ASSERT_EQ(p.size(), 32u + 16u);
    EXPECT_EQ(p[20], 2.0f);
    const float expected[16] = {1, 2, 3, 4, 7, 0, 0, 0, -1, -2, -3, -4, -3, 0, 0, 0};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p[32 + i], expected[i]) << "index " << 32 + i;
}

TEST(SceneParams, TwoKeyframesAddAnimationBlockAfterExtraObjects) {
    Scene scene;
    axis_camera(scene, 90.0f);
    scene.camera_up[0] = 0.25f;  // the block carries camera_up as given
    scene.de_objects.resize(1);
    scene.anim_duration = 4.0f;
    scene.anim_fps = 25.0f;
    scene.anim_loop = true;
    scene.camera_keyframes.push_back(CameraKeyframe{0.5f, {1, 2, 3}, {4, 5, 6}});
    scene.camera_keyframes.push_back(CameraKeyframe{1.5f, {-1, -2, -3}, {-4, -5, -6}});
    build_scene_buffer(scene, 64, 64, 1.5f);
    const std::vector<float>& p = scene.scene_params;
    ASSERT_EQ(p.size(), 32u + 8u + 8u + 16u);
    EXPECT_EQ(p[21], 2.0f);
    const float* anim = p.data() + 40;
    EXPECT_EQ(anim[0], 2.0f);
    EXPECT_EQ(anim[1], 4.0f);
    EXPECT_EQ(anim[2], 1.0f);
    EXPECT_FLOAT_EQ(anim[3], 1.5f);  // half height: overscan 1.5 x tan(45 degrees)
    EXPECT_EQ(anim[4], 0.25f);
    EXPECT_EQ(anim[5], 1.0f);
    EXPECT_EQ(anim[6], 0.0f);
    EXPECT_FLOAT_EQ(anim[7], 1.0f / 25.0f);
    const float keys[16] = {0.5f, 1, 2, 3, 4, 5, 6, 0, 1.5f, -1, -2, -3, -4, -5, -6, 0};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(anim[8 + i], keys[i]) << "keyframe word " << i;

    scene.anim_loop = false;
    scene_test::prepare(scene);
    EXPECT_EQ(scene.scene_params[42], 0.0f);
}

// Cameras without a proper view or up direction still get an orthonormal
// basis: the documented fallbacks, never NaN.
TEST(SceneParams, DegenerateCamerasGetTheDocumentedBasis) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        const char* what;
        float eye[3], target[3], up[3], right[3], image_up[3];
    } cases[] = {
        {"eye on target", {1, 2, 3}, {1, 2, 3}, {0, 1, 0}, {1, 0, 0}, {0, 1, 0}},
        {"zero up", {0, 0, 0}, {0, 0, -1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
        {"up along view", {0, 0, 0}, {0, 0, -1}, {0, 0, 5}, {1, 0, 0}, {0, 1, 0}},
        {"NaN up", {0, 0, 0}, {0, 0, -1}, {nan, 1, 0}, {1, 0, 0}, {0, 1, 0}},
        {"infinite up", {0, 0, 0}, {0, 0, -1}, {0, inf, 0}, {1, 0, 0}, {0, 1, 0}},
        {"straight down", {0, 5, 0}, {0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, -1}},
        {"straight up", {0, 0, 0}, {0, 5, 0}, {0, 1, 0}, {-1, 0, 0}, {0, 0, -1}},
    };
    for (const auto& c : cases) {
        Scene scene;
        std::copy_n(c.eye, 3, scene.camera_position);
        std::copy_n(c.target, 3, scene.camera_look_at);
        std::copy_n(c.up, 3, scene.camera_up);
        scene.camera_fov = 90.0f;
        scene.camera_keyframes.resize(2);
        scene_test::prepare(scene);
        for (float f : scene.scene_params) ASSERT_TRUE(std::isfinite(f)) << c.what;
        const float* p = scene.scene_params.data();
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(p[12 + i], 2.0f * c.right[i], 1e-5f) << c.what << " axis " << i;
            EXPECT_NEAR(p[16 + i], 2.0f * c.image_up[i], 1e-5f) << c.what << " axis " << i;
        }
    }
}

TEST(SceneParams, NinetyDegreeSquareImageSpansHaveLengthTwo) {
    Scene scene;
    axis_camera(scene, 90.0f);
    scene.camera_position[0] = 10.0f;
    scene.camera_look_at[0] = 10.0f;
    scene_test::prepare(scene);
    const float* p = scene.scene_params.data();
    EXPECT_NEAR(length3(p + 12), 2.0f, 1e-5f);
    EXPECT_NEAR(length3(p + 16), 2.0f, 1e-5f);
    // Horizontal along +x, vertical along +y, plane one unit ahead of the eye.
    EXPECT_NEAR(p[12], 2.0f, 1e-5f);
    EXPECT_NEAR(p[17], 2.0f, 1e-5f);
    EXPECT_NEAR(p[8], 9.0f, 1e-5f);
    EXPECT_NEAR(p[9], -1.0f, 1e-5f);
    EXPECT_NEAR(p[10], -1.0f, 1e-5f);
}

TEST(SceneParams, OverscanWidensThePlaneAndAspectFollowsImage) {
    Scene scene;
    axis_camera(scene, 90.0f);
    RenderOutput out;
    out.width = 200;
    out.height = 100;
    out.overscan = 10;
    testing::internal::CaptureStdout();
    build_scene_buffer(scene, static_cast<int>(out.padded_width()), static_cast<int>(out.padded_height()),
                       out.overscan_scale());
    testing::internal::GetCapturedStdout();
    const float scale = 120.0f / 100.0f;
    const float aspect = 220.0f / 120.0f;
    const float* p = scene.scene_params.data();
    EXPECT_NEAR(length3(p + 16), 2.0f * scale, 1e-5f);
    EXPECT_NEAR(length3(p + 12), 2.0f * scale * aspect, 1e-5f);
    EXPECT_NEAR(p[9], -scale, 1e-5f);
}

}  // namespace
