// One host thread renders batches while a viewer polls the 8-bit image and
// the sample count and a third thread changes settings. Run under
// ThreadSanitizer (label concurrency) with validation off: the validation
// layer's own locks trip the race detector.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "render_call_support.h"

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(1);
}

TEST(RenderConcurrency, BatchesViewerAndSettingsThreads) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    setup_render_context(ctx, 16);
    ctx->validation = false;
    add_emissive_square(ctx, 0, 0, 1, 1);
    ASSERT_EQ(vitrel_prepare(ctx), 0);

    constexpr int kBatches = 6;
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::atomic<int> served{0};

    std::thread renderer([&] {
        for (int b = 0; b < kBatches; ++b)
            if (vitrel_render_batch(ctx) < 0) ++failures;
        done = true;
    });
    std::thread viewer([&] {
        while (!done) {
            const int total = vitrel_get_total_samples(ctx);
            if (total < 0 || total % 8 != 0) ++failures;  // never a partial batch
            int w = 0, h = 0;
            const unsigned char* p = vitrel_get_pixels_uint8(ctx, &w, &h);
            if (p) {
                if (w != 16 || h != 16) ++failures;
                unsigned sum = 0;
                for (int i = 0; i < 4 * w * h; ++i) sum += p[i];
                (void)sum;
                ++served;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
    });
    std::thread settings([&] {
        int round = 0;
        while (!done) {
            vitrel_set_render_params(ctx, 4, 3, 1.0f + 0.1f * (round % 5));
            vitrel_set_grade(ctx, round % 2 ? "filmic" : "neutral");
            vitrel_set_tile_size(ctx, 8 + round % 3);
            if (round % 7 == 3) vitrel_reset_accumulation(ctx);
            (void)vitrel_is_prepared(ctx);
            ++round;
            std::this_thread::sleep_for(kPollInterval);
        }
    });
    renderer.join();
    viewer.join();
    settings.join();
    EXPECT_EQ(failures.load(), 0);
    // The settings thread may have reset the accumulation last.
    ASSERT_GT(vitrel_render_batch(ctx), 0);
    EXPECT_NE(vitrel_get_pixels_uint8(ctx, nullptr, nullptr), nullptr);
    EXPECT_EQ(ctx->samples_per_batch, 8u);  // prepared: the count stays
}
