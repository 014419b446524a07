// Host-side planning of batches and the guards around worker threads and
// grown scenes: no device needed.
#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/batch_plan.h"
#include "api/framebuffer_merge.h"
#include "api/scene_shape.h"
#include "api/worker_threads.h"
#include "scene/scene.h"

TEST(TileList, RowMajorTilesCutAtTheImageEdge) {
    const std::vector<GpuTile> t = build_tile_list(300, 300, 256);
    ASSERT_EQ(t.size(), 4u);
    const std::array<std::array<int, 4>, 4> expected{
        {{0, 0, 256, 256}, {256, 0, 44, 256}, {0, 256, 256, 44}, {256, 256, 44, 44}}};
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ((std::array<int, 4>{t[k].x, t[k].y, t[k].w, t[k].h}), expected[k]) << k;
    }
}

TEST(TileList, TilesCoverEveryPixelOnce) {
    for (const auto& [w, h, edge] :
         {std::array<uint32_t, 3>{1, 1, 1}, {17, 5, 4}, {64, 64, 64}, {65, 1, 64}, {9, 9, 0}}) {
        std::vector<int> covered(static_cast<size_t>(w) * h, 0);
        for (const GpuTile& t : build_tile_list(w, h, edge))
            for (int y = t.y; y < t.y + t.h; ++y)
                for (int x = t.x; x < t.x + t.w; ++x) ++covered[static_cast<size_t>(y) * w + x];
        for (int c : covered) ASSERT_EQ(c, 1) << w << "x" << h << " tile " << edge;
    }
    EXPECT_TRUE(build_tile_list(0, 10, 4).empty());
}

TEST(MotionPlan, SubStepsNeverRenderZeroSamples) {
    EXPECT_EQ(motion_substep_samples(8, 3), 2u);   // 3 sub-steps add 6
    EXPECT_EQ(motion_substep_samples(4, 5), 1u);   // 5 sub-steps add 5
    EXPECT_EQ(motion_substep_samples(0, 3), 1u);
    EXPECT_EQ(motion_substep_samples(0, 0), 1u);
    EXPECT_EQ(motion_substep_samples(16, 4), 4u);
}

namespace {

Scene two_instances() {
    Scene s;
    s.instances.resize(2);
    return s;
}

std::vector<float> shifted(float x) { return {1, 0, 0, x, 0, 1, 0, 0, 0, 0, 1, 0}; }

}  // namespace

TEST(MotionPlan, StepsAndEndpointsSkipInstancesWithoutEntries) {
    Scene s = two_instances();
    // Three steps for instance 0 only (instance 1 was added later).
    const std::vector<std::vector<float>> xf{shifted(1), shifted(2), shifted(3)};
    apply_motion_step(s, xf, 3, 1);
    EXPECT_EQ(s.instances[0].transform[3], 2.0f);
    EXPECT_EQ(s.instances[1].transform[3], 0.0f);

    apply_motion_endpoints(s, xf, 3);
    EXPECT_EQ(s.instances[0].transform[3], 1.0f);
    EXPECT_EQ(s.instances[0].transform_end[3], 3.0f);
    EXPECT_TRUE(s.instances[0].moving);
    EXPECT_FALSE(s.instances[1].moving);

    const std::vector<std::vector<float>> still{shifted(5), shifted(5), shifted(5), shifted(5)};
    apply_motion_endpoints(s, still, 2);
    EXPECT_FALSE(s.instances[0].moving);
    EXPECT_FALSE(s.instances[1].moving);
    EXPECT_EQ(s.instances[1].transform_end[3], 5.0f);

    // A malformed entry (not 12 floats) is never read.
    const std::vector<std::vector<float>> short_entry{{1, 2, 3}};
    apply_motion_step(s, short_entry, 1, 0);
    EXPECT_EQ(s.instances[0].transform[3], 5.0f);
}

TEST(SceneShape, GrowthIsNamedWithItsRemedy) {
    Scene s;
    s.materials.resize(1);
    s.meshes.resize(1);
    const SceneShape prepared = capture_shape(s);
    EXPECT_EQ(check_fixed_tables(prepared, s), "");
    EXPECT_EQ(check_light_tables(prepared, s), "");

    const struct { void (*grow)(Scene&); const char* what; bool fixed; } cases[] = {
        {[](Scene& c) { c.materials.resize(2); }, "material count changed from 1 to 2", true},
        {[](Scene& c) { c.meshes.clear(); }, "mesh count changed from 1 to 0", true},
        {[](Scene& c) { c.textures.resize(3); }, "texture count", true},
        {[](Scene& c) { c.envmap_texture = 0; }, "environment map", true},
        {[](Scene& c) { c.emissive_instances.resize(1); }, "vitrel_rebuild_tlas", false},
        {[](Scene& c) { c.light_cdf.resize(4); }, "light tables", false},
    };
    for (const auto& c : cases) {
        Scene changed = s;
        c.grow(changed);
        const std::string why = c.fixed ? check_fixed_tables(prepared, changed) : check_light_tables(prepared, changed);
        EXPECT_NE(why.find(c.what), std::string::npos) << why;
        EXPECT_NE(why.find("prepare again"), std::string::npos) << why;
    }
}

TEST(WorkerThreads, AllJoinAndTheLowestFailureIsKept) {
    std::vector<int> ran(4, 0);
    const WorkerFailures f = run_per_slot(4, [&](size_t i) {
        ran[i] = 1;
        if (i == 3) throw 42;
        if (i >= 1) throw std::runtime_error("slot " + std::to_string(i));
    });
    EXPECT_EQ(ran, std::vector<int>(4, 1));
    ASSERT_EQ(f.first(), 1);
    EXPECT_EQ(exception_text(f.slots[1], "unknown"), "slot 1");
    EXPECT_EQ(exception_text(f.slots[3], "unknown"), "unknown");
    EXPECT_EQ(run_per_slot(3, [](size_t) {}).first(), -1);
    EXPECT_EQ(run_per_slot(0, [](size_t) { throw 1; }).first(), -1);
}

TEST(FramebufferMerge, SumsFloatsAndSaturatesIntegers) {
    std::vector<float> eye{1.0f, 2.0f};
    std::vector<int32_t> light{INT32_MAX, -5};
    add_accumulation(eye, light, {0.5f, -2.0f}, {1, 5});
    EXPECT_EQ(eye, (std::vector<float>{1.5f, 0.0f}));
    EXPECT_EQ(light, (std::vector<int32_t>{INT32_MAX, 0}));
    EXPECT_THROW(add_accumulation(eye, light, {1.0f}, {1, 2}), std::runtime_error);
}
