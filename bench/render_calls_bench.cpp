// The calls a host drives, on the machine's devices: preparation of a
// 1-million-triangle scene (full and fast path), the host overhead of a
// small batch against the GPU time of the same batch, the two-GPU merge at
// 1024 x 1024, and the latency of the 8-bit read-out while a batch runs.
// A small main that prints the figures and ratios of one run.
//
// The merge figures need two devices: run with the lavapipe manifest listed
// twice in VK_DRIVER_FILES (see BENCHMARKS.md); otherwise they are skipped.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "api/framebuffer_merge.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "bench/quiet_stdout.h"
#include "gpu/vk_renderer.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A host scene: an emissive square and a grid of `cols` x `rows` quads.
VitrelContext* make_context(int size, uint32_t cols, uint32_t rows) {
    VitrelContext* ctx = vitrel_create();
    vitrel_set_output_size(ctx, size, size);
    vitrel_set_quality(ctx, 1);
    const float eye[3] = {0, 0, 3}, target[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    vitrel_set_camera(ctx, eye, target, up, 45.0f, 0.0f, 3.0f);
    const float grey[3] = {0.5f, 0.5f, 0.5f}, glow[3] = {1, 1, 1}, black[3] = {0, 0, 0};
    vitrel_add_material(ctx, grey, black, -1, -1, -1, -1, 1, 0, 0, 1.5f, 0.5f, 0, 0, 0, 0, 0, 0,
                        0, 0);
    vitrel_add_material(ctx, black, glow, -1, -1, -1, -1, 1, 0, 0, 1.5f, 0.5f, 0, 0, 0, 0, 0, 0,
                        0, 0);
    std::vector<float> pos;
    std::vector<unsigned> idx;
    for (uint32_t y = 0; y <= rows; ++y)
        for (uint32_t x = 0; x <= cols; ++x)
            pos.insert(pos.end(), {-1.0f + 2.0f * x / cols, -1.0f + 2.0f * y / rows, -0.5f});
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const unsigned a = y * (cols + 1) + x, b = a + 1, c = a + cols + 1, d = c + 1;
            idx.insert(idx.end(), {a, b, d, a, d, c});
        }
    vitrel_add_mesh(ctx, pos.data(), static_cast<int>(pos.size() / 3), idx.data(),
                    static_cast<int>(idx.size() / 3), nullptr, nullptr, nullptr, nullptr, 0);
    const float sq[12] = {-0.3f, -0.3f, 0, 0.3f, -0.3f, 0, 0.3f, 0.3f, 0, -0.3f, 0.3f, 0};
    const unsigned sqi[6] = {0, 1, 2, 0, 2, 3};
    vitrel_add_mesh(ctx, sq, 4, sqi, 2, nullptr, nullptr, nullptr, nullptr, 1);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    vitrel_add_instance(ctx, 0, 0, identity);
    vitrel_add_instance(ctx, 1, 1, identity);
    return ctx;
}

void bench_preparation() {
    constexpr uint32_t kCols = 1000, kRows = 500;  // 1,000,000 triangles
    VitrelContext* ctx = make_context(64, kCols, kRows);
    double full = 0, fast = 0;
    {
        QuietStdout quiet;
        auto t = Clock::now();
        if (vitrel_prepare(ctx) != 0) std::fprintf(stderr, "%s\n", vitrel_get_last_error(ctx));
        full = seconds_since(t);
        t = Clock::now();
        vitrel_prepare(ctx);
        fast = seconds_since(t);
    }
    std::printf("prepare, 1,000,000 triangles: full path %.2f s, fast path %.2f s (fast/full %.2f)\n",
                full, fast, fast / full);
    vitrel_destroy(ctx);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The call and the bare renderer alternate, so that load changes on the
// shared machine affect both alike; medians of each.
void bench_batch_overhead() {
    VitrelContext* ctx = make_context(64, 4, 4);
    vitrel_set_render_params(ctx, 1, 6, 1.0f);
    constexpr int kBatches = 40;
    std::vector<double> call, direct;
    {
        QuietStdout quiet;
        vitrel_prepare(ctx);
        VkRenderer& r = *ctx->renderers[0];
        vitrel_render_batch(ctx);  // warm-up
        for (int i = 0; i < kBatches; ++i) {
            auto t = Clock::now();
            vitrel_render_batch(ctx);
            call.push_back(seconds_since(t));
            t = Clock::now();
            r.renderBatch(ctx->scene, ctx->output, 1, 6, 0, 1000 + i, false);
            direct.push_back(seconds_since(t));
        }
    }
    const double c = median(call), d = median(direct);
    std::printf("1-sample batch at 64x64 (median of %d): vitrel_render_batch %.3f ms, renderBatch "
                "%.3f ms, host overhead %.1f us (%.2f%%)\n",
                kBatches, c * 1e3, d * 1e3, (c - d) * 1e6, 100 * (c - d) / d);
    vitrel_destroy(ctx);
}

void bench_merge() {
    if (VkRenderer::enumerateRayTracingDevices().size() < 2) {
        std::printf("merge: skipped (one device; see BENCHMARKS.md)\n");
        return;
    }
    VitrelContext* ctx = make_context(1024 - 8, 4, 4);  // 1024 x 1024 render pixels
    const int mask[2] = {0, 1};
    vitrel_set_gpu_mask(ctx, mask, 2);
    constexpr int kReads = 5;
    double merged = 0, single = 0;
    {
        QuietStdout quiet;
        vitrel_set_render_params(ctx, 1, 6, 1.0f);
        vitrel_prepare(ctx);
        vitrel_render_batch(ctx);
        VkRenderer& r0 = *ctx->renderers[0];
        auto t = Clock::now();
        for (int i = 0; i < kReads; ++i)
            with_merged_framebuffers(*ctx, [] { return 0; });
        merged = seconds_since(t) / kReads;
        t = Clock::now();
        for (int i = 0; i < kReads; ++i) r0.readback(ctx->output, 1, true);
        single = seconds_since(t) / kReads;
    }
    std::printf("merge of two GPUs at 1024x1024: %.1f ms per read-out; a one-GPU float read-out "
                "%.1f ms (merge/read-out %.2f)\n",
                merged * 1e3, single * 1e3, merged / single);
    vitrel_destroy(ctx);
}

void bench_uint8_latency() {
    VitrelContext* ctx = make_context(64, 4, 4);
    std::vector<double> busy;
    {
        QuietStdout quiet;
        vitrel_prepare(ctx);
        vitrel_render_batch(ctx);
        vitrel_get_pixels_uint8(ctx, nullptr, nullptr);  // publish one image
        std::atomic<bool> done{false};
        std::thread batches([&] {
            for (int i = 0; i < 20; ++i) vitrel_render_batch(ctx);
            done = true;
        });
        while (!done) {
            const auto t = Clock::now();
            vitrel_get_pixels_uint8(ctx, nullptr, nullptr);
            busy.push_back(seconds_since(t));
        }
        batches.join();
    }
    // Nearly every call finds the lock busy and returns the published image;
    // the few that find it free read a new image (the tail).
    std::sort(busy.begin(), busy.end());
    std::printf("8-bit read-out while batches run: %zu calls, median %.0f ns, 99th percentile "
                "%.0f ns, max %.1f ms\n",
                busy.size(), busy[busy.size() / 2] * 1e9, busy[busy.size() * 99 / 100] * 1e9,
                busy.back() * 1e3);
    vitrel_destroy(ctx);
}

}  // namespace

// With arguments, runs only the named parts: batch, uint8, merge, prepare.
int main(int argc, char** argv) {
    const std::pair<std::string, void (*)()> parts[] = {{"batch", bench_batch_overhead},
                                                        {"uint8", bench_uint8_latency},
                                                        {"merge", bench_merge},
                                                        {"prepare", bench_preparation}};
    for (const auto& [name, run] : parts) {
        const bool chosen = argc < 2 || std::any_of(argv + 1, argv + argc, [&](const char* a) {
                                return name == a;
                            });
        if (chosen) run();
    }
    return 0;
}
