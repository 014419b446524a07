// Vulkan backend on the machine's device (lavapipe here): bring-up,
// acceleration-structure builds and scene-buffer uploads. Progress lines the
// renderer prints are silenced inside the timed regions.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "scene/render_output.h"
#include "bench/quiet_stdout.h"
#include "gpu/vk_renderer.h"
#include "scene/scene.h"

namespace {

// A flat grid of cols x rows quads (2 triangles each) starting at x0.
MeshData grid(uint32_t cols, uint32_t rows, float x0) {
    MeshData m;
    for (uint32_t y = 0; y <= rows; ++y)
        for (uint32_t x = 0; x <= cols; ++x)
            m.positions.insert(m.positions.end(),
                               {x0 + static_cast<float>(x), static_cast<float>(y), 0.0f});
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < cols; ++x) {
            const uint32_t a = y * (cols + 1) + x, b = a + 1, c = a + cols + 1, d = c + 1;
            m.indices.insert(m.indices.end(), {a, b, d, a, d, c});
        }
    }
    compute_face_normals(m);
    return m;
}

Scene mesh_scene(uint32_t meshes, uint32_t cols, uint32_t rows) {
    Scene s;
    for (uint32_t i = 0; i < meshes; ++i) {
        s.meshes.push_back(grid(cols, rows, 0.0f));
        Instance inst;
        inst.mesh = i;
        inst.transform[3] = static_cast<float>(i) * (static_cast<float>(cols) + 1.0f);
        s.instances.push_back(inst);
    }
    return s;
}

void BM_Init(benchmark::State& state) {
    for (auto _ : state) {
        VkRenderer r;
        QuietStdout quiet;
        r.init(false, 0);
        r.destroy();
    }
}
BENCHMARK(BM_Init)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Full build (geometry upload, BLAS, lookup table, TLAS). Argument 0 builds
// one BLAS per submission; 1 batches builds up to the default scratch budget.
void build_bench(benchmark::State& state, const Scene& scene) {
    VkRenderer r;
    {
        QuietStdout quiet;
        r.init(false, 0);
    }
    if (state.range(0) == 0) r.blasScratchBudget = 0;
    for (auto _ : state) {
        QuietStdout quiet;
        r.buildAccelerationStructures(scene);
        state.PauseTiming();
        r.destroySceneResources();
        state.ResumeTiming();
    }
    r.destroy();
}

void BM_Build_OneMesh1MTriangles(benchmark::State& state) {
    const Scene scene = mesh_scene(1, 1000, 500);
    build_bench(state, scene);
}
BENCHMARK(BM_Build_OneMesh1MTriangles)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

void BM_Build_10kMeshes100Triangles(benchmark::State& state) {
    const Scene scene = mesh_scene(10000, 10, 5);
    build_bench(state, scene);
}
BENCHMARK(BM_Build_10kMeshes100Triangles)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

void BM_CreateBuffers_Atlas96MiB(benchmark::State& state) {
    Scene scene;
    scene.atlas_data.assign(size_t{96} << 20, 0x7F);
    scene.atlas_entries.resize(1);
    scene.srgb_lut.assign(256, 0.5f);
    const RenderOutput output;  // 512 x 512, overscan 4, quality 2
    const std::vector<uint16_t> essLut(32768, 1);
    VkRenderer r;
    {
        QuietStdout quiet;
        r.init(false, 0);
    }
    for (auto _ : state) {
        QuietStdout quiet;
        r.createBuffers(scene, output, essLut);
        state.PauseTiming();
        r.destroySceneResources();
        state.ResumeTiming();
    }
    r.destroy();
}
BENCHMARK(BM_CreateBuffers_Atlas96MiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
