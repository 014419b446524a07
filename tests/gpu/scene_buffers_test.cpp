// Scene, light, environment and framebuffer buffers on the real device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "scene/ess_lut.h"
#include "scene/render_output.h"
#include "gpu_test_support.h"
#include "scene/scene.h"

namespace {

// Storage-buffer limit set on the renderer (the smallest Vulkan allows) so
// that oversized buffers stay cheap to describe whatever the device allows.
constexpr VkDeviceSize kSmallStorageRange = VkDeviceSize{1} << 27;

using ::testing::HasSubstr;

RenderOutput small_output() {
    RenderOutput out;
    out.width = 8;
    out.height = 6;
    out.overscan = 1;
    out.quality = 1;
    return out;
}

Instance translated(uint32_t mesh, float x) {
    Instance inst;
    inst.mesh = mesh;
    inst.transform[3] = x;
    return inst;
}

// Sized up front and filled in place: GCC 12 at -O3 misreads repeated
// inserts of initializer lists as overflowing writes (stringop-overflow).
MeshData triangles(uint32_t count) {
    MeshData mesh;
    mesh.positions.resize(9 * size_t{count});
    mesh.indices.resize(3 * size_t{count});
    for (uint32_t t = 0; t < count; ++t) {
        const float x = static_cast<float>(t);
        const float corners[9] = {x, 0, 0, x + 1, 0, 0, x, 1, 0};
        std::copy(std::begin(corners), std::end(corners), mesh.positions.begin() + 9 * t);
        for (uint32_t k = 0; k < 3; ++k) mesh.indices[3 * t + k] = 3 * t + k;
    }
    compute_face_normals(mesh);
    return mesh;
}

class SceneBufferTest : public GpuTest {
protected:
    std::string create(const Scene& scene, const RenderOutput& output,
                       const std::vector<uint16_t>& essLut = {}) {
        return capture_stdout([&] { renderer->createBuffers(scene, output, essLut); });
    }
};

TEST_F(SceneBufferTest, DefaultOutputSizes) {
    create(Scene{}, RenderOutput{});
    EXPECT_EQ(renderer->renderWidth, 1040);
    EXPECT_EQ(renderer->renderHeight, 1040);
    EXPECT_EQ(renderer->outputWidth, 512);
    EXPECT_EQ(renderer->outputHeight, 512);
    const VkDeviceSize R = 1040 * 1040, P = 512 * 512;
    EXPECT_EQ(renderer->eyeAccumBuffer.size, 16 * R);
    EXPECT_EQ(renderer->lightAccumBuffer.size, 16 * R);
    EXPECT_EQ(renderer->workBuffer.size, 16 * R);
    EXPECT_EQ(renderer->sampleBuffer.size, 16u * 8 * 256 * 256);
    EXPECT_EQ(renderer->outputBuffer.size, 16 * P);
    EXPECT_EQ(renderer->outputStaging.size, 16 * P);
    EXPECT_NE(renderer->outputMapped, nullptr);
    EXPECT_EQ(renderer->outputRgba8Buffer.size, 4 * P);
    EXPECT_EQ(renderer->outputRgba8Staging.size, 4 * P);
    EXPECT_EQ(renderer->aovDepthBuffer.size, 4 * P);
    EXPECT_EQ(renderer->aovNormalBuffer.size, 12 * P);
    EXPECT_EQ(renderer->aovObjectIdBuffer.size, 4 * P);
    EXPECT_EQ(renderer->aovStaging.size, 12 * P);

    // The sample buffer follows the samples per dispatch and the tile size.
    renderer->samplesPerDispatch = 4;
    renderer->tileSize = 64;
    create(Scene{}, small_output());
    EXPECT_EQ(renderer->sampleBuffer.size, 16u * 4 * 64 * 64);
}

TEST_F(SceneBufferTest, PlaceholdersWithoutLightsAtlasOrEnvironment) {
    Scene scene;
    scene.envmap_texture = -1;  // preparation switched the map off: its tables do not count
    scene.env_cdf_width = 4;
    scene.env_cdf_height = 2;
    scene.env_marginal_cdf = {1, 2};
    create(scene, small_output());
    for (const AllocatedBuffer* b : {&renderer->emissiveBuffer, &renderer->emissiveTriCdfBuffer,
                                     &renderer->lightCdfBuffer, &renderer->atlasDataBuffer,
                                     &renderer->srgbLutBuffer}) {
        ASSERT_NE(b->buffer, VK_NULL_HANDLE);
        EXPECT_EQ(download<uint32_t>(*b), std::vector<uint32_t>{0u});
    }
    EXPECT_EQ(download<uint32_t>(renderer->atlasEntryBuffer), std::vector<uint32_t>(8, 0u));
    // No environment: 64 zero bytes, so the texture word reads 0, not -1.
    EXPECT_EQ(download<uint32_t>(renderer->envCdfBuffer), std::vector<uint32_t>(16, 0u));
    // Empty sources that have no placeholder stay absent.
    EXPECT_EQ(renderer->sceneParamsBuffer.buffer, VK_NULL_HANDLE);
    EXPECT_EQ(renderer->materialBuffer.buffer, VK_NULL_HANDLE);
    EXPECT_EQ(renderer->essLutBuffer.buffer, VK_NULL_HANDLE);
}

TEST_F(SceneBufferTest, SceneTablesArriveVerbatim) {
    Scene scene;
    scene.scene_params = {1.5f, -2.0f, 3.25f};
    scene.gpu_materials.resize(2);
    scene.gpu_materials[1].alpha = 0.75f;
    scene.gpu_materials[1].thin_walled = 1;
    scene.atlas_data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    scene.atlas_entries.resize(1);
    scene.atlas_entries[0].width = 3;
    scene.atlas_entries[0].channels = 3;
    scene.srgb_lut = {0.0f, 0.5f, 1.0f};
    scene.light_cdf = {0x80000000u, 0xFFFFFFFFu};
    const std::vector<uint16_t> lut = {10, 20, 30, 40, 50};
    create(scene, small_output(), lut);

    EXPECT_EQ(download<float>(renderer->sceneParamsBuffer), scene.scene_params);
    const std::vector<uint8_t> materials = download<uint8_t>(renderer->materialBuffer);
    ASSERT_EQ(materials.size(), 2u * 188);
    EXPECT_EQ(at<float>(materials, 188 + 120), 0.75f);
    EXPECT_EQ(at<int32_t>(materials, 188 + 184), 1);
    EXPECT_EQ(download<uint16_t>(renderer->essLutBuffer), binding4_table(lut));  // the appended tables follow
    const std::vector<uint8_t> atlas = download<uint8_t>(renderer->atlasDataBuffer);
    ASSERT_EQ(atlas.size(), 12u);  // rounded up to whole words
    EXPECT_TRUE(std::equal(scene.atlas_data.begin(), scene.atlas_data.end(), atlas.begin()));
    const std::vector<uint32_t> entry = download<uint32_t>(renderer->atlasEntryBuffer);
    EXPECT_EQ(entry, (std::vector<uint32_t>{0, 3, 0, 3, 0, 0, 0, 0}));
    EXPECT_EQ(download<float>(renderer->srgbLutBuffer), scene.srgb_lut);
    EXPECT_EQ(download<uint32_t>(renderer->lightCdfBuffer), scene.light_cdf);
}

TEST_F(SceneBufferTest, EmissiveRecordsReadBackFromTheGpu) {
    Scene scene;
    scene.meshes = {triangles(2), triangles(3)};
    scene.instances = {translated(0, 1.0f), translated(1, 2.0f)};
    Instance& moving = scene.instances[1];
    std::memcpy(moving.transform_end, moving.transform, sizeof(moving.transform_end));
    moving.transform_end[7] = 9.0f;
    moving.moving = true;
    scene.emissive_instances = {{1, 2.5f, {1, 2, 0xFFFFFFFFu}}, {0, 1.5f, {7, 0xFFFFFFFFu}}};
    scene.emissive_tri_cdf = {1, 2, 0xFFFFFFFFu, 7, 0xFFFFFFFFu};
    scene.light_pdf = {0.625f};  // shorter than the entry list
    scene.light_cdf = {0xA0000000u, 0xFFFFFFFFu};
    create(scene, small_output());

    const std::vector<uint8_t> bytes = download<uint8_t>(renderer->emissiveBuffer);
    ASSERT_EQ(bytes.size(), 240u);
    // Entry 0: instance 1 (mesh of 3 triangles), moving.
    EXPECT_EQ(at<int32_t>(bytes, 0), 1);
    EXPECT_EQ(at<uint32_t>(bytes, 4), 0u);
    EXPECT_EQ(at<uint32_t>(bytes, 8), 3u);
    EXPECT_EQ(at<float>(bytes, 12), 2.5f);
    EXPECT_EQ(at<float>(bytes, 16 + 3 * 4), 2.0f);   // translation x of transform
    EXPECT_EQ(at<float>(bytes, 16 + 7 * 4), 0.0f);   // translation y of transform
    EXPECT_EQ(at<float>(bytes, 64), 0.625f);
    EXPECT_EQ(at<float>(bytes, 68 + 3 * 4), 2.0f);
    EXPECT_EQ(at<float>(bytes, 68 + 7 * 4), 9.0f);   // transform_end of a moving instance
    EXPECT_EQ(at<uint32_t>(bytes, 116), 0u);
    // Entry 1: instance 0 (2 triangles), first triangle after entry 0's three.
    EXPECT_EQ(at<int32_t>(bytes, 120), 0);
    EXPECT_EQ(at<uint32_t>(bytes, 124), 3u);
    EXPECT_EQ(at<uint32_t>(bytes, 128), 2u);
    EXPECT_EQ(at<float>(bytes, 132), 1.5f);
    EXPECT_EQ(at<float>(bytes, 184), 0.5f);          // 1 / entry count
    EXPECT_EQ(at<float>(bytes, 188 + 3 * 4), 1.0f);  // static: transform again
    EXPECT_EQ(at<float>(bytes, 120 + 16), 1.0f);     // row 0 of the identity rotation
    EXPECT_EQ(download<uint32_t>(renderer->emissiveTriCdfBuffer), scene.emissive_tri_cdf);
    EXPECT_EQ(download<uint32_t>(renderer->lightCdfBuffer), scene.light_cdf);
}

TEST_F(SceneBufferTest, EnvironmentBlockReadsBackFromTheGpu) {
    Scene scene;
    scene.envmap_texture = 0;
    scene.envmap_intensity = 2.0f;
    scene.envmap_rotation[2] = 90.0f;
    scene.env_cdf_width = 2;
    scene.env_cdf_height = 3;
    scene.env_total_weight = 4.5f;
    scene.env_marginal_cdf = {100, 200, 0xFFFFFFFFu};
    scene.env_row_weights = {1.0f, 1.5f, 2.0f};
    scene.env_conditional_cdf = {11, 0xFFFFFFFFu, 22, 0xFFFFFFFFu, 33, 0xFFFFFFFFu};
    create(scene, small_output());
    const std::vector<uint32_t> w = download<uint32_t>(renderer->envCdfBuffer);
    ASSERT_EQ(w.size(), 16u + 2 * 3 + 2 * 3);
    auto f = [&](size_t i) {
        float v;
        std::memcpy(&v, &w[i], 4);
        return v;
    };
    EXPECT_EQ(static_cast<int32_t>(w[0]), 2);
    EXPECT_EQ(static_cast<int32_t>(w[1]), 3);
    EXPECT_EQ(f(2), 4.5f);
    EXPECT_EQ(f(3), 2.0f);
    // Rotation about z by 90 degrees: rows (0,-1,0), (1,0,0), (0,0,1).
    const float expected[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(f(4 + i), expected[i], 1e-6f) << "rotation " << i;
    EXPECT_EQ(static_cast<int32_t>(w[13]), 0);
    EXPECT_EQ(w[14], 0u);
    EXPECT_EQ(w[15], 0u);
    EXPECT_EQ(std::vector<uint32_t>(w.begin() + 16, w.begin() + 19), scene.env_marginal_cdf);
    EXPECT_EQ(f(19), 1.0f);
    EXPECT_EQ(f(21), 2.0f);
    EXPECT_EQ(std::vector<uint32_t>(w.begin() + 22, w.end()), scene.env_conditional_cdf);
}

TEST_F(SceneBufferTest, AccumulationRoundTripAndClear) {
    create(Scene{}, small_output());
    const size_t values = 4u * 10 * 8;  // (8 + 2) x (6 + 2) render pixels
    std::vector<float> eye(values);
    std::vector<int32_t> light(values);
    for (size_t i = 0; i < values; ++i) {
        eye[i] = 0.5f * static_cast<float>(i);
        light[i] = -3 * static_cast<int32_t>(i);
    }
    renderer->uploadFramebuffers(eye, light);
    std::vector<float> eyeBack;
    std::vector<int32_t> lightBack;
    renderer->readbackFramebuffers(eyeBack, lightBack);
    EXPECT_EQ(eyeBack, eye);
    EXPECT_EQ(lightBack, light);

    renderer->clearFramebuffers();
    renderer->readbackFramebuffers(eyeBack, lightBack);
    EXPECT_EQ(eyeBack, std::vector<float>(values, 0.0f));
    EXPECT_EQ(lightBack, std::vector<int32_t>(values, 0));
}

TEST_F(SceneBufferTest, ResizeToTheSameRenderSizeKeepsEverything) {
    RenderOutput output;
    output.width = 64;
    output.height = 32;
    output.overscan = 4;
    output.quality = 1;
    create(Scene{}, output);
    const VkBuffer eye = renderer->eyeAccumBuffer.buffer;
    RenderOutput traded = output;  // width and overscan traded: same render size
    traded.width = 62;
    traded.overscan = 5;
    traded.height = 30;
    renderer->resizeFramebuffers(traded);
    EXPECT_EQ(renderer->eyeAccumBuffer.buffer, eye);
    EXPECT_EQ(renderer->outputWidth, 64);
    EXPECT_EQ(renderer->outputHeight, 32);

    RenderOutput bigger = output;
    bigger.width = 100;
    renderer->resizeFramebuffers(bigger);
    EXPECT_EQ(renderer->renderWidth, 108);
    EXPECT_EQ(renderer->renderHeight, 40);
    EXPECT_EQ(renderer->outputWidth, 100);
    EXPECT_EQ(renderer->eyeAccumBuffer.size, 16u * 108 * 40);
    EXPECT_EQ(renderer->outputBuffer.size, 16u * 100 * 32);
    EXPECT_NE(renderer->outputMapped, nullptr);
    std::vector<float> eyeBack;
    std::vector<int32_t> lightBack;
    renderer->clearFramebuffers();
    renderer->readbackFramebuffers(eyeBack, lightBack);
    EXPECT_EQ(eyeBack.size(), 4u * 108 * 40);
}

// A framebuffer or table beyond the device's storage-buffer range fails
// with the buffer's name, its size and the limit, and is not created.
TEST_F(SceneBufferTest, BuffersTooLargeForTheDeviceNameBufferSizeAndLimit) {
    RenderOutput uhd;
    uhd.width = 3840;
    uhd.height = 2160;
    uhd.quality = 2;
    const Scene empty;
    Scene bigAtlas;
    bigAtlas.atlas_data.resize(kSmallStorageRange + 1);
    const struct {
        const char* name;
        const Scene& scene;
        RenderOutput output;
        uint64_t bytes;
        const AllocatedBuffer& buffer;
    } cases[] = {
        {"eyeAccumBuffer", empty, uhd, 16ull * (3840 + 8) * 2 * (2160 + 8) * 2,
         renderer->eyeAccumBuffer},
        {"atlasDataBuffer", bigAtlas, small_output(), kSmallStorageRange + 4,
         renderer->atlasDataBuffer},
    };
    renderer->maxStorageBufferRange = kSmallStorageRange;
    for (const auto& c : cases) {
        try {
            create(c.scene, c.output);
            ADD_FAILURE() << c.name << " beyond the storage-buffer range was accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.name));
            EXPECT_THAT(e.what(), HasSubstr(std::to_string(c.bytes)));
            EXPECT_THAT(e.what(), HasSubstr(std::to_string(kSmallStorageRange)));
        }
        EXPECT_EQ(c.buffer.buffer, VK_NULL_HANDLE) << c.name;
    }
}

TEST_F(SceneBufferTest, EmptySizesAndTransfersWithoutFramebuffersAreRefused) {
    std::vector<float> eye;
    std::vector<int32_t> light;
    EXPECT_THROW(renderer->clearFramebuffers(), std::runtime_error);
    EXPECT_THROW(renderer->readbackFramebuffers(eye, light), std::runtime_error);
    EXPECT_THROW(renderer->uploadFramebuffers(eye, light), std::runtime_error);

    RenderOutput empty = small_output();
    empty.width = 0;
    EXPECT_THROW(renderer->createBuffers(Scene{}, empty, {}), std::runtime_error);
    RenderOutput noQuality = small_output();
    noQuality.quality = 0;
    EXPECT_THROW(renderer->createBuffers(Scene{}, noQuality, {}), std::runtime_error);
    renderer->tileSize = 0;
    EXPECT_THROW(renderer->createBuffers(Scene{}, small_output(), {}), std::runtime_error);
    renderer->tileSize = 8;

    // Accumulations of the wrong size are refused.
    create(Scene{}, small_output());
    light.resize(4u * 10 * 8);
    eye.resize(light.size() - 1);
    EXPECT_THROW(renderer->uploadFramebuffers(eye, light), std::runtime_error);
    eye.resize(light.size() + 4);
    EXPECT_THROW(renderer->uploadFramebuffers(eye, light), std::runtime_error);
}

TEST_F(SceneBufferTest, LightBuffersAreReplacedOnReupload) {
    Scene scene;
    scene.meshes = {triangles(1)};
    scene.instances = {translated(0, 0.0f)};
    create(scene, small_output());
    EXPECT_EQ(renderer->emissiveBuffer.size, 4u);
    scene.emissive_instances = {{0, 0.5f, {0xFFFFFFFFu}}};
    scene.emissive_tri_cdf = {0xFFFFFFFFu};
    scene.light_pdf = {1.0f};
    scene.light_cdf = {0xFFFFFFFFu};
    renderer->reuploadLightBuffers(scene);
    EXPECT_EQ(renderer->emissiveBuffer.size, 120u);
    EXPECT_EQ(download<uint32_t>(renderer->emissiveTriCdfBuffer), scene.emissive_tri_cdf);
    EXPECT_EQ(download<uint32_t>(renderer->lightCdfBuffer), scene.light_cdf);
}

TEST_F(SceneBufferTest, SceneResourcesGoAwayAndComeBack) {
    create(Scene{}, small_output());
    renderer->destroySceneResources();
    EXPECT_EQ(renderer->eyeAccumBuffer.buffer, VK_NULL_HANDLE);
    EXPECT_EQ(renderer->outputMapped, nullptr);
    EXPECT_EQ(renderer->envCdfBuffer.buffer, VK_NULL_HANDLE);
    renderer->destroySceneResources();
    create(Scene{}, small_output());
    // A second createBuffers without release replaces instead of leaking
    // (the allocator aborts on leaked allocations at destroy).
    create(Scene{}, small_output());
    EXPECT_NE(renderer->eyeAccumBuffer.buffer, VK_NULL_HANDLE);
}

}  // namespace
