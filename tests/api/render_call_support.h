// Scenes built through the call interface for the tests that prepare and
// render: an emissive quad facing the camera over a black or uniformly lit
// background, at tiny output sizes (quality 1) so the suite stays fast.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "test_helpers.h"

// Camera at (0, 0, 3) looking at the origin, 45 degrees vertical field of
// view. Output size x size, quality 1, validation on.
void setup_render_context(VitrelContext* ctx, int size);

// A square in the z = 0 plane, centre (cx, cy), edge `edge`, emitting
// `emission` on a black diffuse material. Returns the instance id.
int add_emissive_square(VitrelContext* ctx, float cx, float cy, float edge, float emission);

// A uniform environment of radiance `value`.
void set_uniform_environment(VitrelContext* ctx, float value);

// Moves the camera of setup_render_context back to its place at w x h
// through vitrel_update_camera; returns the call's result.
int update_camera(VitrelContext* ctx, int w, int h);

// Copies the linear image (4 floats per pixel); empty when none.
std::vector<float> linear_image(VitrelContext* ctx);

// Sum of the red channel over the image.
double red_sum(const std::vector<float>& rgba);

// Fails the test when any renderer of the context has reported a
// validation message.
void expect_no_validation_messages(VitrelContext* ctx);

// Captures what `fn` prints to standard error.
template <typename Fn>
std::string capture_stderr(Fn&& fn) {
    ::testing::internal::CaptureStderr();
    fn();
    return ::testing::internal::GetCapturedStderr();
}

// A context prepared for rendering; checks validation when it ends.
struct RenderContext {
    ContextGuard guard;
    VitrelContext* ctx = guard.ctx;
    explicit RenderContext(int size = 16) { setup_render_context(ctx, size); }
    ~RenderContext() { expect_no_validation_messages(ctx); }
};

// A RenderContext holding a unit emissive square at the centre, prepared.
struct PreparedSquare : RenderContext {
    explicit PreparedSquare(int size = 16) : RenderContext(size) {
        add_emissive_square(ctx, 0, 0, 1, 1);
        EXPECT_EQ(vitrel_prepare(ctx), 0) << vitrel_get_last_error(ctx);
    }
};
