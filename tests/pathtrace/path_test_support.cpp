#include "pathtrace/path_test_support.h"

#include <cstdlib>
#include <cstring>

#include "shaders/gpu_layout.h"

std::string repository_dir() {
    const char* dir = std::getenv("VITREL_SOURCE_DIR");
    return dir ? dir : VITREL_TEST_SOURCE_DIR;
}

Scene cornell_box_scene() { return cornell_box_scene(repository_dir() + "/scenes/cornell_box.json"); }

Scene furnace_scene(const Material& m) {
    Scene scene;
    scene.materials.push_back(m);
    const float origin[3] = {0.0f, 0.0f, 0.0f}, eye[3] = {0.0f, 0.0f, 3.0f};
    add_mesh_instance(scene, sphere_mesh(origin, 1.0f), 0);
    set_uniform_environment(scene, 1.0f);
    set_camera(scene, eye, origin, 45.0f);
    return scene;
}

bool same_bits(const Accumulation& a, const Accumulation& b) {
    return a.eye.size() == b.eye.size() && a.light == b.light &&
           std::memcmp(a.eye.data(), b.eye.data(), a.eye.size() * sizeof(float)) == 0;
}

Rgb Accumulation::mean(int x, int y, bool light_only) const {
    const size_t at = 4 * (static_cast<size_t>(y) * width + x);
    const float* p = &eye[at];
    const double n = p[3] > 0.0f ? p[3] : 1.0;
    Rgb m{0, 0, 0};
    for (int c = 0; c < 3; ++c) {
        if (!light_only) m[c] = p[c] / n;
        if (samples > 0) m[c] += light[at + c] * LIGHT_ACCUM_SCALE / samples;
    }
    return m;
}

Rgb Accumulation::region_mean(int x0, int y0, int x1, int y1) const {
    Rgb sum{0, 0, 0};
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const Rgb m = mean(x, y);
            for (int c = 0; c < 3; ++c) sum[c] += m[c];
        }
    const double n = static_cast<double>(x1 - x0) * (y1 - y0);
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

long long Accumulation::dropped() const {
    long long total = 0;
    for (size_t i = 3; i < light.size(); i += 4) total += light[i];
    return total;
}

void PathTest::TearDown() {
    if (!renderer) return;
    renderer->destroy();
    EXPECT_EQ(renderer->validationMessageCount.load(), 0u)
        << "validation layer reported problems (see [Vulkan] lines above)";
}

void PathTest::prepare(Scene scene, int size, bool floatAtomics, int quality) {
    if (renderer) renderer->destroy();
    scene_ = std::move(scene);
    output_ = RenderOutput{};
    output_.width = output_.height = static_cast<uint32_t>(size);
    output_.overscan = 0;
    output_.quality = static_cast<uint32_t>(quality);
    renderer = std::make_unique<VkRenderer>();
    renderer->lightPathsAtPreparation = light_paths_at_preparation_;
    if (tile_size_ != 0) renderer->tileSize = tile_size_;
    renderer->traceCpuBvh = trace_cpu_bvh_;
    prepare_renderer(*renderer, scene_, output_, true, VITREL_SHADER_DIR, repository_dir() + "/shaders",
                     floatAtomics);
}

void PathTest::rebuild_programs() {
    renderer->createPipelines(scene_, VITREL_SHADER_DIR, repository_dir() + "/shaders", nullptr);
    renderer->createDescriptors();
    renderer->updateDescriptors();
}

void PathTest::batch(int samples, int firstSample, bool clear, int traceParam) {
    renderer->renderBatch(scene_, output_, samples, traceParam, 0, firstSample, clear);
    samples_ = (clear ? 0 : samples_) + samples;
}

Accumulation PathTest::accumulation() {
    Accumulation a;
    a.width = renderer->renderWidth;
    a.height = renderer->renderHeight;
    a.samples = samples_;
    renderer->readbackFramebuffers(a.eye, a.light);
    return a;
}

Accumulation PathTest::render(Scene scene, int size, int samples, int traceParam) {
    prepare(std::move(scene), size);
    batch(samples, 0, true, traceParam);
    return accumulation();
}

Accumulation PathTest::expect_split_repeats(int traceParam) {
    batch(16, 0, true, traceParam);
    const Accumulation once = accumulation();
    batch(8, 0, true, traceParam);
    batch(8, 8, false, traceParam);
    EXPECT_TRUE(same_bits(once, accumulation())) << "two batches of 8 differ from one of 16";
    return once;
}
