// Scene preparation against its memory floor. Every benchmark times its
// work and a memcpy of the input bytes alternately in the same iterations.
// The counters give the fastest iteration of each ("min_ms", "memcpy_ms")
// and their ratio ("x_memcpy"): on a shared machine the minimum is the
// figure least disturbed by other processes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "scene/scene_prep.h"
#include "scene/triangle_order.h"

namespace {

constexpr int kEnvWidth = 8192;
constexpr int kEnvHeight = 4096;
constexpr int kEnvChannels = 3;
constexpr int kGridSide = 1415;  // 2 x 1414^2 = 3,998,792 triangles
constexpr int kIterations = 8;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Copies `bytes` from src into a destination touched beforehand, so that the
// floor measures bandwidth rather than page faults.
struct MemcpyFloor {
    const void* src;
    size_t bytes;
    std::vector<uint8_t> dst;
    double min_seconds = 1e30;

    MemcpyFloor(const void* s, size_t n) : src(s), bytes(n), dst(n, 1) {}
    void run() {
        const Clock::time_point t = Clock::now();
        std::memcpy(dst.data(), src, bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
        min_seconds = std::min(min_seconds, seconds_since(t));
    }
};

void report(benchmark::State& state, double work_min_seconds, const MemcpyFloor& floor) {
    state.counters["min_ms"] = work_min_seconds * 1e3;
    state.counters["memcpy_ms"] = floor.min_seconds * 1e3;
    state.counters["x_memcpy"] = work_min_seconds / floor.min_seconds;
}

Scene env_scene(bool is_float) {
    Scene scene;
    TextureData tex;
    tex.width = kEnvWidth;
    tex.height = kEnvHeight;
    tex.channels = kEnvChannels;
    tex.is_float = is_float;
    const size_t n = size_t{kEnvWidth} * kEnvHeight * kEnvChannels;
    std::mt19937 rng(1);
    if (is_float) {
        tex.pixelsf.resize(n);
        for (float& v : tex.pixelsf) v = static_cast<float>(rng() >> 8) * 0x1p-20f;
    } else {
        tex.pixels8.resize(n);
        for (uint8_t& v : tex.pixels8) v = static_cast<uint8_t>(rng());
    }
    scene.textures.push_back(std::move(tex));
    scene.envmap_texture = 0;
    return scene;
}

// Argument: worker threads, 0 for the production path (one per hardware
// thread).
void run_envmap(benchmark::State& state, bool is_float) {
    const unsigned workers = static_cast<unsigned>(state.range(0));
    const auto build = [&](Scene& s) {
        if (workers == 0) {
            build_envmap_cdf(s);
        } else {
            build_envmap_cdf_with_workers(s, workers);
        }
    };
    Scene scene = env_scene(is_float);
    const TextureData& tex = scene.textures[0];
    MemcpyFloor floor(is_float ? static_cast<const void*>(tex.pixelsf.data()) : tex.pixels8.data(),
                      is_float ? tex.pixelsf.size() * sizeof(float) : tex.pixels8.size());
    build(scene);  // the first build allocates the tables
    double work = 1e30;
    for (auto _ : state) {
        floor.run();
        scene.env_marginal_cdf.clear();  // forces a rebuild
        const Clock::time_point t = Clock::now();
        build(scene);
        const double s = seconds_since(t);
        benchmark::DoNotOptimize(scene.env_conditional_cdf.data());
        state.SetIterationTime(s);
        work = std::min(work, s);
    }
    std::fflush(stdout);
    report(state, work, floor);
}

void BM_EnvmapTablesFloat(benchmark::State& state) { run_envmap(state, true); }
void BM_EnvmapTables8Bit(benchmark::State& state) { run_envmap(state, false); }

MeshData grid_mesh() {
    MeshData mesh;
    std::mt19937 rng(2);
    for (int y = 0; y < kGridSide; ++y) {
        for (int x = 0; x < kGridSide; ++x) {
            mesh.positions.push_back(static_cast<float>(x));
            mesh.positions.push_back(static_cast<float>(y));
            mesh.positions.push_back(static_cast<float>(rng() >> 8) * 0x1p-24f);
        }
    }
    for (uint32_t y = 0; y + 1 < kGridSide; ++y) {
        for (uint32_t x = 0; x + 1 < kGridSide; ++x) {
            const uint32_t a = y * kGridSide + x, b = a + 1, c = a + kGridSide, d = c + 1;
            const uint32_t tris[6] = {a, b, d, a, d, c};
            mesh.indices.insert(mesh.indices.end(), tris, tris + 6);
        }
    }
    return mesh;
}

void BM_EmissiveAreaLoop(benchmark::State& state) {
    const MeshData mesh = grid_mesh();
    const size_t index_bytes = mesh.indices.size() * sizeof(uint32_t);
    const size_t position_bytes = mesh.positions.size() * sizeof(float);
    std::vector<uint8_t> packed(index_bytes + position_bytes);
    std::memcpy(packed.data(), mesh.indices.data(), index_bytes);
    std::memcpy(packed.data() + index_bytes, mesh.positions.data(), position_bytes);
    MemcpyFloor floor(packed.data(), packed.size());
    const float transform[12] = {0.5f, 0.1f, 0, 3, 0, 2, 0.2f, -1, 0.3f, 0, 1.5f, 4};
    TriangleAreas scratch;
    compute_triangle_areas(mesh, transform, scratch);
    double work = 1e30;
    for (auto _ : state) {
        floor.run();
        const Clock::time_point t = Clock::now();
        benchmark::DoNotOptimize(compute_triangle_areas(mesh, transform, scratch));
        const double s = seconds_since(t);
        state.SetIterationTime(s);
        work = std::min(work, s);
    }
    state.counters["triangles"] = static_cast<double>(mesh.triangle_count());
    report(state, work, floor);
}

// The grid's triangles shuffled, then put back into tracing order: the
// whole cost a preparation pays for a mesh that arrives unordered.
void BM_TriangleOrderOfShuffledMesh(benchmark::State& state) {
    MeshData mesh = grid_mesh();
    std::vector<uint32_t> order(mesh.triangle_count());
    for (uint32_t t = 0; t < order.size(); ++t) order[t] = t;
    std::shuffle(order.begin(), order.end(), std::mt19937(3));
    std::vector<uint32_t> indices(mesh.indices.size());
    for (size_t i = 0; i < order.size(); ++i)
        std::copy_n(mesh.indices.begin() + 3 * static_cast<ptrdiff_t>(order[i]), 3, indices.begin() + 3 * static_cast<ptrdiff_t>(i));
    mesh.indices.swap(indices);
    MemcpyFloor floor(mesh.indices.data(), mesh.indices.size() * sizeof(uint32_t));
    double work = 1e30;
    for (auto _ : state) {
        floor.run();
        const Clock::time_point t = Clock::now();
        const std::vector<uint32_t> result = trace_triangle_order(mesh);
        const double s = seconds_since(t);
        benchmark::DoNotOptimize(result.data());
        state.SetIterationTime(s);
        work = std::min(work, s);
    }
    state.counters["triangles"] = static_cast<double>(mesh.triangle_count());
    report(state, work, floor);
}

}  // namespace

BENCHMARK(BM_EnvmapTablesFloat)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(kIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnvmapTables8Bit)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(kIterations)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmissiveAreaLoop)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TriangleOrderOfShuffledMesh)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
