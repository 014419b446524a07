// Camera animation and motion-blur recording.
#include <gtest/gtest.h>

#include "test_helpers.h"

namespace {

class Animation : public ::testing::Test {
protected:
    ContextGuard g;
    VitrelContext* ctx = g.ctx;

    void add_instances(int n) {
        ASSERT_EQ(add_plain_material(ctx), 0);
        ASSERT_EQ(add_triangle_mesh(ctx), 0);
        for (int i = 0; i < n; ++i) {
            const auto m = translation_matrix(static_cast<float>(i), 0, 0);
            ASSERT_EQ(vitrel_add_instance(ctx, 0, 0, m.data()), i);
        }
    }
};

}  // namespace

TEST_F(Animation, MotionStepsStartAtCurrentTransformsAndRespectBounds) {
    add_instances(2);
    vitrel_set_motion_blur(ctx, 3, 1.0f);
    ASSERT_EQ(ctx->motion_xforms.size(), 6u);
    for (size_t i = 0; i < 2; ++i) {
        const float* t = ctx->scene.instances[i].transform;
        for (size_t s = 0; s < 3; ++s) EXPECT_EQ(ctx->motion_xforms[i * 3 + s], std::vector<float>(t, t + 12));
    }
    const auto moved = translation_matrix(9, 8, 7);
    const std::vector<std::vector<float>> before = ctx->motion_xforms;
    vitrel_set_instance_transform_at(ctx, 0, 3, moved.data());   // step == steps
    vitrel_set_instance_transform_at(ctx, 2, 0, moved.data());   // instance == count
    vitrel_set_instance_transform_at(ctx, -1, 0, moved.data());
    vitrel_set_instance_transform_at(ctx, 0, -1, moved.data());
    vitrel_set_instance_transform_at(ctx, 0, 0, nullptr);
    EXPECT_EQ(ctx->motion_xforms, before);
    vitrel_set_instance_transform_at(ctx, 1, 2, moved.data());
    const std::vector<float>& step = ctx->motion_xforms[5];
    EXPECT_EQ((std::vector<float>{step[3], step[7], step[11]}), (std::vector<float>{9, 8, 7}));
    EXPECT_EQ(ctx->motion_xforms[4], before[4]);
}

TEST_F(Animation, InstancesAddedLaterHaveNoStepsAndZeroStepsFreeEverything) {
    add_instances(1);
    vitrel_set_motion_blur(ctx, 2, 1.0f);
    const auto m = translation_matrix(1, 1, 1);
    ASSERT_EQ(vitrel_add_instance(ctx, 0, 0, m.data()), 1);
    vitrel_set_instance_transform_at(ctx, 1, 0, m.data());
    EXPECT_EQ(ctx->motion_xforms.size(), 2u);
    vitrel_set_motion_blur(ctx, 2, 1.0f);
    EXPECT_EQ(ctx->motion_xforms.size(), 4u);

    vitrel_set_motion_blur(ctx, -1, 1.0f);  // ignored
    EXPECT_EQ(ctx->motion_steps, 2);
    vitrel_set_motion_blur(ctx, 0, 1.0f);
    EXPECT_EQ(ctx->motion_steps, 0);
    EXPECT_TRUE(ctx->motion_xforms.empty());
    vitrel_set_instance_transform_at(ctx, 0, 0, m.data());
    EXPECT_TRUE(ctx->motion_xforms.empty());
}

TEST_F(Animation, ShutterFramesFollowFpsAtSetTime) {
    vitrel_set_animation(ctx, 1, 10.0f, 24.0f);
    vitrel_set_motion_blur(ctx, 2, 0.5f);
    EXPECT_FLOAT_EQ(ctx->scene.shutter_frames, 12.0f);
    vitrel_set_animation(ctx, 0, 10.0f, 60.0f);
    EXPECT_FLOAT_EQ(ctx->scene.shutter_frames, 12.0f);
    vitrel_set_animation(ctx, 0, 10.0f, 0.0f);
    vitrel_set_motion_blur(ctx, 2, 0.5f);
    EXPECT_FLOAT_EQ(ctx->scene.shutter_frames, 1.0f);
}

TEST_F(Animation, KeyframesKeepInsertionOrderAndClearResets) {
    const float p0[3] = {1, 2, 3}, a0[3] = {0, 0, 0};
    const float p1[3] = {4, 5, 6}, a1[3] = {1, 1, 1};
    vitrel_add_keyframe(ctx, p0, a0, 2.0f);
    vitrel_add_keyframe(ctx, p1, a1, 1.0f);
    vitrel_add_keyframe(ctx, nullptr, a1, 3.0f);
    vitrel_add_keyframe(ctx, p1, nullptr, 3.0f);
    ASSERT_EQ(ctx->scene.camera_keyframes.size(), 2u);
    EXPECT_FLOAT_EQ(ctx->scene.camera_keyframes[0].time, 2.0f);
    EXPECT_FLOAT_EQ(ctx->scene.camera_keyframes[1].time, 1.0f);
    EXPECT_FLOAT_EQ(ctx->scene.camera_keyframes[1].position[2], 6.0f);

    add_instances(1);
    vitrel_set_animation(ctx, 1, 5.0f, 24.0f);
    vitrel_set_motion_blur(ctx, 2, 0.5f);
    vitrel_clear_animation(ctx);
    EXPECT_TRUE(ctx->scene.camera_keyframes.empty());
    EXPECT_FALSE(ctx->scene.anim_loop);
    EXPECT_FLOAT_EQ(ctx->scene.anim_duration, 0.0f);
    EXPECT_FLOAT_EQ(ctx->scene.anim_fps, 30.0f);
    EXPECT_FLOAT_EQ(ctx->scene.shutter_frames, 1.0f);
    // Motion blur is not part of the animation.
    EXPECT_EQ(ctx->motion_steps, 2);
    EXPECT_EQ(ctx->motion_xforms.size(), 2u);
}
