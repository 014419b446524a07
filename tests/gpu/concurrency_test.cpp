// Several renderers driven at once, one thread each, as preparation and
// framebuffer merging do: nothing may be shared between them. Validation is
// off here, as in preparation: the validation layer's own internal locking
// trips ThreadSanitizer, and the same operations run single-threaded with
// validation in gpu_tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "scene/render_output.h"
#include "gpu/vk_renderer.h"
#include "scene/scene.h"

namespace {

constexpr int kRenderers = 2;
constexpr int kRounds = 3;

Scene one_triangle_scene() {
    Scene s;
    MeshData m;
    m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    m.indices = {0, 1, 2};
    compute_face_normals(m);
    s.meshes = {m};
    s.instances.resize(1);
    return s;
}

// Returns an empty string on success, else what went wrong.
std::string drive(VkRenderer& r, int seed) {
    RenderOutput output;
    output.width = 16;
    output.height = 8;
    output.overscan = 2;
    output.quality = 1;
    const Scene scene = one_triangle_scene();
    r.buildAccelerationStructures(scene);
    r.createBuffers(scene, output, {});
    const size_t values = 4u * 20 * 12;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<float> eye(values);
        std::vector<int32_t> light(values);
        for (size_t i = 0; i < values; ++i) {
            eye[i] = static_cast<float>(seed * 1000 + round) + static_cast<float>(i);
            light[i] = seed - static_cast<int32_t>(i) * (round + 1);
        }
        r.uploadFramebuffers(eye, light);
        std::vector<float> eyeBack;
        std::vector<int32_t> lightBack;
        r.readbackFramebuffers(eyeBack, lightBack);
        if (eyeBack != eye || lightBack != light) return "round trip mismatch";
    }
    r.destroySceneResources();
    return "";
}

TEST(Concurrency, RenderersOnTheirOwnThreadsStayIndependent) {
    VkRenderer renderers[kRenderers];
    std::string errors[kRenderers];
    std::fflush(stdout);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRenderers; ++i) {
        threads.emplace_back([&, i] {
            try {
                renderers[i].init(false, 0);
                errors[i] = drive(renderers[i], i + 1);
            } catch (const std::exception& e) {
                errors[i] = e.what();
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < kRenderers; ++i) {
        EXPECT_EQ(errors[i], "") << "renderer " << i;
        renderers[i].destroy();
        EXPECT_EQ(renderers[i].device, VK_NULL_HANDLE);
    }
}

}  // namespace
