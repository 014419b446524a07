// Scene packing that throws (an atlas beyond 4 GiB, memory running out)
// inside the calls that pack: each reports it through its result and
// last_error, and nothing escapes the call.
#include <string>

#include "failing_heap.h"
#include "render_call_support.h"

namespace {

bool starts_with(const std::string& s, const std::string& prefix) {
    return s.rfind(prefix, 0) == 0;
}

}  // namespace

TEST(PackingFailure, PreparationReportsItAndKeepsNoRenderer) {
    PreparedSquare rc;
    ::testing::internal::CaptureStderr();
    {
        failing_heap::FailNextOnThisThread fail;  // packing runs on the calling thread
        EXPECT_EQ(vitrel_prepare(rc.ctx), -2);
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string(vitrel_get_last_error(rc.ctx)), "scene packing: std::bad_alloc");
    EXPECT_EQ(err, "vitrel_prepare: scene packing: std::bad_alloc\n");
    EXPECT_TRUE(rc.ctx->renderers.empty());
    EXPECT_EQ(vitrel_is_prepared(rc.ctx), 0);
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 8);
}

TEST(PackingFailure, UpdatesAndMotionBatchesReportIt) {
    RenderContext rc;
    const int inst = add_emissive_square(rc.ctx, 0, 0, 0.5f, 1);
    ASSERT_EQ(vitrel_prepare(rc.ctx), 0);
    ASSERT_EQ(vitrel_render_batch(rc.ctx), 8);
    {
        failing_heap::FailNextOnThisThread fail;  // packing runs on the calling thread
        EXPECT_EQ(update_camera(rc.ctx, 16, 16), -1);
    }
    EXPECT_TRUE(starts_with(vitrel_get_last_error(rc.ctx), "update_camera: scene packing: "));
    {
        failing_heap::FailNextOnThisThread fail;  // packing runs on the calling thread
        EXPECT_EQ(vitrel_rebuild_tlas(rc.ctx), -1);
    }
    EXPECT_TRUE(starts_with(vitrel_get_last_error(rc.ctx), "rebuild_tlas: scene packing: "));

    vitrel_set_motion_blur(rc.ctx, 2, 0.5f);
    const auto moved = translation_matrix(0.2f, 0, 0);
    vitrel_set_instance_transform_at(rc.ctx, inst, 1, moved.data());
    {
        failing_heap::FailNextOnThisThread fail;  // packing runs on the calling thread
        EXPECT_EQ(vitrel_render_batch(rc.ctx), -3);
    }
    EXPECT_TRUE(starts_with(vitrel_get_last_error(rc.ctx), "render_batch: std::bad_alloc"));
    EXPECT_EQ(vitrel_get_total_samples(rc.ctx), 8);
    // Packing failed before any GPU resource was replaced: still usable.
    EXPECT_EQ(vitrel_is_prepared(rc.ctx), 1);
    EXPECT_EQ(vitrel_render_batch(rc.ctx), 16);
    EXPECT_EQ(vitrel_rebuild_tlas(rc.ctx), 0);
    EXPECT_EQ(update_camera(rc.ctx, 16, 16), 0);
}
