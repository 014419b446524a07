// A seeded random host: every call with hostile arguments (NaN, huge and
// negative counts, out-of-range ids, NULL where the header says it is
// checked), scene clears at random points and re-preparation after the scene
// grew, first on one thread, then on three sharing the context. A watchdog
// aborts on a hang. VITREL_DRIVER_SEED replays another seed.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "render_call_support.h"
#include "shaders/gpu_layout.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr int kCallsPerThread = 1500;
constexpr int kMaxSceneClears = 2;  // each costs a full device bring-up
constexpr unsigned kGpuCallSkipPercent = 60;
constexpr unsigned kMaxFuzzBounces = 4;
// Generous: should the path programs not be in the Mesa cache (see
// add_material below), the first preparation compiles them, which takes
// minutes on a loaded CPU driver. Below the test's 900 s timeout, so that a
// hang is reported with its call.
constexpr auto kHangLimit = std::chrono::seconds(600);

uint32_t seed() {
    const char* s = std::getenv("VITREL_DRIVER_SEED");
    return s ? static_cast<uint32_t>(std::strtoul(s, nullptr, 10)) : 20261208u;
}

// Aborts the process when no call has finished for kHangLimit, checking
// every kWatchPeriod so that it fires before the test's own timeout.
class Watchdog {
public:
    Watchdog() : thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void progress(int op) {
        last_op_ = op;
        ++ticks_;
    }

private:
    static constexpr auto kWatchPeriod = std::chrono::seconds(5);
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        long seen = ticks_.load();
        auto since = std::chrono::steady_clock::now();
        while (!wake_.wait_for(lock, kWatchPeriod, [this] { return stop_; })) {
            const auto now = std::chrono::steady_clock::now();
            if (ticks_.load() != seen) {
                seen = ticks_.load();
                since = now;
            } else if (now - since >= kHangLimit) {
                // Standard error may be captured by the test; say it on both.
                for (FILE* out : {stdout, stderr}) {
                    std::fprintf(out, "driver test: no call finished for %lld s (last op %d)\n",
                                 static_cast<long long>(kHangLimit.count()), last_op_.load());
                    std::fflush(out);
                }
                std::abort();
            }
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<long> ticks_{0};
    std::atomic<int> last_op_{-1};
    std::thread thread_;
};

class Driver {
public:
    Driver(VitrelContext* ctx, uint32_t s, std::atomic<int>& clears)
        : ctx_(ctx), rng_(s), clears_(clears) {}

    int pick_int() {
        static const int values[] = {-1, 0, 1, 2, 3, 7, 16, 24, INT_MAX, INT_MIN, 100000, -100000};
        return values[rng_() % std::size(values)];
    }
    float pick_float() {
        static const float values[] = {0.0f, 1.0f, -1.0f, 0.5f, kNaN, kInf, -kInf, 1e30f, 45.0f};
        return values[rng_() % std::size(values)];
    }
    int small_id() { return static_cast<int>(rng_() % 6) - 1; }
    bool coin(unsigned percent) { return rng_() % 100 < percent; }
    static bool is_gpu_call(int op) { return op >= 15 && op <= 21 && op != 18; }

    // One random call; returns its number for the watchdog.
    int step() {
        int op = static_cast<int>(rng_() % 24);
        // GPU work is rarer than host calls so that a run stays short.
        if (is_gpu_call(op) && coin(kGpuCallSkipPercent)) op = 23;
        float v[16];
        for (float& f : v) f = coin(10) ? pick_float() : static_cast<float>(rng_() % 5) * 0.25f;
        const float* vec = coin(5) ? nullptr : v;
        int w = 0, h = 0;
        switch (op) {
            case 0:
                // Metal, transmission, coat and sheen stay exactly 0: each
                // one a material uses selects another variant of the path
                // programs, and a variant takes minutes to compile on a CPU
                // driver. With them off every preparation meets the program
                // the calls' warm-up compiled; the host stores those four
                // values as it stores the hostile ones given here.
                vitrel_add_material(ctx_, vec ? v : nullptr, v, small_id(), small_id(), -1,
                                    small_id(), pick_float(), 0.0f, 0.0f, v[3], v[4], 0.0f, v[6],
                                    v[7], 0.0f, v[9], v[10], v[11], v[12]);
                break;
            case 1: {
                const float pos[12] = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
                const unsigned idx[6] = {0, 1, 2, 0, 2, coin(20) ? 99u : 3u};
                const int vc = coin(10) ? pick_int() : 4;
                const int tc = coin(10) ? pick_int() : 2;
                if (vc <= 4 && tc <= 2)
                    vitrel_add_mesh(ctx_, coin(5) ? nullptr : pos, vc, idx, tc, nullptr, nullptr,
                                    nullptr, nullptr, small_id());
                break;
            }
            case 2: vitrel_add_instance(ctx_, small_id(), small_id(), vec); break;
            case 3: vitrel_set_instance_transform(ctx_, small_id(), vec); break;
            case 4: vitrel_set_camera(ctx_, v, v + 3, coin(5) ? nullptr : v + 6, pick_float(),
                                      v[9], v[10]);
                break;
            case 5: vitrel_set_motion_blur(ctx_, static_cast<int>(rng_() % 6) - 1, pick_float());
                break;
            case 6: vitrel_set_instance_transform_at(ctx_, small_id(), small_id(), vec); break;
            case 7: vitrel_add_keyframe(ctx_, v, vec, pick_float()); break;
            case 8: vitrel_set_animation(ctx_, pick_int(), pick_float(), pick_float()); break;
            case 9: {
                const unsigned char texel[4] = {10, 20, 30, 255};
                if (coin(30)) vitrel_add_texture(ctx_, coin(10) ? nullptr : texel, 1, 1, 4, 0, 0);
                break;
            }
            case 10: {
                const int size = coin(70) ? 4 + static_cast<int>(rng_() % 9) : pick_int();
                vitrel_set_output_size(ctx_, size, coin(80) ? size : pick_int());
                break;
            }
            case 11: vitrel_set_quality(ctx_, static_cast<int>(rng_() % 4) - 1); break;
            case 12: {
                static const int samples[] = {INT_MIN, -1, 0, 1, 2, 3};
                // Hostile high bits, but at most kMaxFuzzBounces bounces:
                // with the limit off, paths of up to 64 vertices, each able
                // to start a 256-step subsurface walk, make some batches
                // take a CPU driver minutes, which tells nothing about the
                // calls.
                const int bounces = 1 + static_cast<int>(rng_() % kMaxFuzzBounces);
                const int trace = (pick_int() & ~static_cast<int>(TRACE_PARAM_BOUNCE_MASK)) | bounces;
                vitrel_set_render_params(ctx_, samples[rng_() % 6], trace, pick_float());
                break;
            }
            case 13: vitrel_set_tile_size(ctx_, coin(50) ? 1 + static_cast<int>(rng_() % 16) : pick_int());
                break;
            case 14: {
                const int mask[2] = {coin(90) ? 0 : pick_int(), 0};
                vitrel_set_gpu_mask(ctx_, coin(5) ? nullptr : mask, coin(80) ? 1 : pick_int() % 3);
                break;
            }
            case 15: vitrel_prepare(ctx_); break;
            case 16:
            case 17: vitrel_render_batch(ctx_); break;
            case 18: vitrel_reset_accumulation(ctx_); break;
            case 19: {
                const int size = coin(70) ? 4 + static_cast<int>(rng_() % 9) : pick_int();
                vitrel_update_camera(ctx_, v, v + 3, vec, size, coin(80) ? size : pick_int(),
                                     pick_float(), v[9], v[10]);
                break;
            }
            case 20: vitrel_rebuild_tlas(ctx_); break;
            case 21: {
                const int which = static_cast<int>(rng_() % 7);
                int* pw = coin(20) ? nullptr : &w;
                if (which == 0) vitrel_get_pixels(ctx_, pw, &h);
                if (which == 1) vitrel_get_pixels_linear(ctx_, pw, &h);
                if (which == 2) vitrel_get_pixels_uint8(ctx_, pw, &h);
                if (which == 3) vitrel_compute_aovs(ctx_);
                if (which == 4) vitrel_get_aov_depth(ctx_, pw, &h);
                if (which == 5) vitrel_get_aov_normal(ctx_, pw, &h);
                if (which == 6) vitrel_get_aov_object_id(ctx_, pw, &h);
                break;
            }
            case 22: {
                const int stride = pick_int() % 64, count = pick_int() % 4;
                std::vector<char> names(static_cast<size_t>(std::max(stride, 0)) *
                                        std::max(count, 0));
                vitrel_enumerate_gpus(names.empty() ? nullptr : names.data(), stride, count);
                break;
            }
            case 23:
                if (coin(3) && clears_.fetch_add(1) < kMaxSceneClears) vitrel_scene_clear(ctx_);
                (void)vitrel_get_last_error(ctx_);
                break;
        }
        return op;
    }

private:
    VitrelContext* ctx_;
    std::mt19937 rng_;
    std::atomic<int>& clears_;
};

// A scene that prepares, so that the GPU calls have something to do.
void seed_scene(VitrelContext* ctx) {
    setup_render_context(ctx, 12);
    ctx->validation = false;
    add_emissive_square(ctx, 0, 0, 1, 1);
}

void check_invariants(VitrelContext* ctx) {
    ASSERT_NE(vitrel_get_last_error(ctx), nullptr);
    ASSERT_GE(vitrel_get_total_samples(ctx), 0);
    std::lock_guard<std::mutex> lock(ctx->mutex);
    ASSERT_TRUE(!ctx->prepared || !ctx->renderers.empty());
    ASSERT_FALSE(ctx->gpu_indices.empty());
}

}  // namespace

TEST(DriverFuzz, SingleThreaded) {
    const uint32_t s = seed();
    SCOPED_TRACE("seed " + std::to_string(s));
    ContextGuard g;
    seed_scene(g.ctx);
    std::atomic<int> clears{0};
    Driver driver(g.ctx, s, clears);
    Watchdog dog;
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < kCallsPerThread; ++i) {
        dog.progress(driver.step());
        check_invariants(g.ctx);
        if (HasFatalFailure()) break;
    }
    ::testing::internal::GetCapturedStderr();
}

TEST(DriverFuzz, ThreeThreadsShareOneContext) {
    const uint32_t s = seed();
    SCOPED_TRACE("seed " + std::to_string(s));
    ContextGuard g;
    seed_scene(g.ctx);
    std::atomic<int> clears{0};
    Watchdog dog;
    ::testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            Driver driver(g.ctx, s + 1 + t, clears);
            for (int i = 0; i < kCallsPerThread / 3; ++i) dog.progress(driver.step());
        });
    }
    for (std::thread& t : threads) t.join();
    ::testing::internal::GetCapturedStderr();
    check_invariants(g.ctx);
}
