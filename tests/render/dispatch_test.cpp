// How batches become tiles and sample passes, and that the accumulation
// does not depend on how the samples were split.
#include <cstring>

#include "render/render_test_support.h"

namespace {
constexpr int kSumIndex = 0;   // trace mode 0: sum of sample indices
constexpr int kSumCount = 1;   //               sum of per-dispatch sample counts
constexpr int kSumEnd = 2;     //               sum of batch ends
constexpr int kKept = 3;
}  // namespace

TEST_F(RenderTest, BatchSplitsIntoPassesAndTileRows) {
    Scene scene = plane_scene(-5, 3);
    const RenderOutput output = small_output(1040, 2, 0, 1);
    prepare(scene, output, test_source_dir());

    renderer->renderBatch(scene, output, 20, 0, 0, 5, true);
    std::vector<float> eye = eyeAccum();
    for (size_t p = 0; p < eye.size() / 4; ++p) {
        ASSERT_EQ(eye[4 * p + kKept], 20.0f) << p;
        ASSERT_EQ(eye[4 * p + kSumIndex], 290.0f) << p;        // 5 + ... + 24
        ASSERT_EQ(eye[4 * p + kSumCount], 8 * 8 + 8 * 8 + 4 * 4) << p;  // passes 8, 8, 4
        ASSERT_EQ(eye[4 * p + kSumEnd], 20 * 25.0f) << p;
    }

    renderer->renderBatch(scene, output, 1, 1, 0, 0, true);
    eye = eyeAccum();
    for (int x = 0; x < 1040; ++x) {
        SCOPED_TRACE(x);
        ASSERT_EQ(eye[4 * x + 0], x < 1024 ? 256.0f : 16.0f);  // tile width
        ASSERT_EQ(eye[4 * x + 1], static_cast<float>(x / 256 * 256));
        ASSERT_EQ(eye[4 * x + 2], static_cast<float>(x));
    }
}

TEST_F(RenderTest, SingleTileCoversOnlyItsRectangle) {
    Scene scene = plane_scene(-5, 3);
    const RenderOutput output = small_output(64, 8, 0, 1);
    prepare(scene, output, test_source_dir());
    renderer->renderBatch(scene, output, 4, 0, 0, 0, false);
    renderer->renderBatch(scene, output, 0, 0, 0, 0, true);  // a clear and nothing else
    renderer->renderSingleTile(scene, output, 10, 2, 20, 5, 11, 0, 0, 3);
    const std::vector<float> eye = eyeAccum();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 64; ++x) {
            const bool inside = x >= 10 && x < 30 && y >= 2 && y < 7;
            ASSERT_EQ(eye[4 * (y * 64 + x) + kKept], inside ? 11.0f : 0.0f) << x << "," << y;
            if (inside) {
                ASSERT_EQ(eye[4 * (y * 64 + x) + kSumCount], 8 * 8 + 3 * 3);
            }
        }
    }
    EXPECT_THROW(renderer->renderSingleTile(scene, output, 60, 0, 8, 8, 1, 0, 0, 0),
                 std::runtime_error);
}

TEST_F(RenderTest, DegenerateSettingsNeitherHangNorCrash) {
    Scene scene = plane_scene(-5, 3);
    const RenderOutput output = small_output(8, 8, 0, 1);
    // Nothing prepared: no render size, nothing to do.
    renderer->renderBatch(scene, output, 4, 0, 0, 0, true);
    EXPECT_EQ(renderer->readback(output, 4, true), nullptr);
    std::vector<uint8_t> bytes(3);
    renderer->readbackUint8(output, 4, bytes);
    EXPECT_TRUE(bytes.empty());

    prepare(scene, output, test_source_dir());
    renderer->samplesPerDispatch = 0;  // one sample per pass
    renderer->renderBatch(scene, output, 3, 0, 0, 0, true);
    const std::vector<float> eye = eyeAccum();
    EXPECT_EQ(eye[kKept], 3.0f);
    EXPECT_EQ(eye[kSumCount], 3.0f);
    renderer->samplesPerDispatch = 1000;  // more than the sample buffer holds
    renderer->renderBatch(scene, output, 20, 0, 0, 0, true);
    EXPECT_EQ(eyeAccum()[kKept], 20.0f);
}

TEST_F(RenderTest, AccumulationIsBitExactHoweverSamplesAreSplit) {
    Scene scene = plane_scene(-5, 3);
    const RenderOutput output = small_output(16, 16, 0, 1);
    renderer->samplesPerDispatch = 16;
    renderer->tileSize = 8;
    const std::string sources = test_source_dir();
    prepare(scene, output, sources);
    constexpr int kHashedSamples = 2;
    const auto run = [&](std::initializer_list<int> batches) {
        int first = 0;
        for (int n : batches) {
            renderer->renderBatch(scene, output, n, kHashedSamples, 0, first, first == 0);
            first += n;
        }
        std::vector<float> eye;
        std::vector<int32_t> light;
        renderer->readbackFramebuffers(eye, light);
        std::vector<uint8_t> bytes(eye.size() * 4 + light.size() * 4);
        std::memcpy(bytes.data(), eye.data(), eye.size() * 4);
        std::memcpy(bytes.data() + eye.size() * 4, light.data(), light.size() * 4);
        return std::make_pair(bytes, std::make_pair(eye, light));
    };
    const auto once = run({16});
    EXPECT_EQ(run({16}).first, once.first);
    EXPECT_EQ(run({8, 8}).first, once.first);
    EXPECT_EQ(run({5, 3, 8}).first, once.first);

    // Dropped samples are counted, not accumulated.
    const auto& [eye, light] = once.second;
    int dropped = 0;
    for (size_t p = 0; p < eye.size() / 4; ++p) {
        ASSERT_EQ(eye[4 * p + kKept] + static_cast<float>(light[4 * p + 3]), 16.0f);
        dropped += light[4 * p + 3];
    }
    EXPECT_GT(dropped, 0);

    // The other launch shape: a layer per sample, or all layers in one.
    renderer->sampleRegeneration = !renderer->sampleRegeneration;
    EXPECT_EQ(run({5, 3, 8}).first, once.first);

    renderer->hasFloatAtomics = false;
    rebuildPipelines(scene, sources);
    EXPECT_EQ(run({16}).first, once.first);
}
