// The read-back chain over known accumulations, and the object passes.
#include <cmath>

#include "api/grade_preset.h"
#include "render/render_test_support.h"
#include "shaders/gpu_layout.h"

namespace {

// Eye accumulation of a render image whose pixel i holds radiance fn(i) as
// one kept sample.
template <typename Fn>
std::vector<float> eye_image(size_t pixels, Fn fn) {
    std::vector<float> eye(4 * pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const std::array<float, 3> c = fn(i);
        eye[4 * i] = c[0];
        eye[4 * i + 1] = c[1];
        eye[4 * i + 2] = c[2];
        eye[4 * i + 3] = 1.0f;
    }
    return eye;
}

}  // namespace

class ReadbackTest : public RenderTest {
protected:
    // Prepares an output and fills its accumulations.
    void fill(const RenderOutput& o, const std::vector<float>& eye,
              const std::vector<int32_t>& light) {
        output = o;
        prepare(scene, output, "");
        renderer->uploadFramebuffers(eye, light);
    }
    std::vector<float> read(int totalSamples, bool linear) {
        const float* p = renderer->readback(output, totalSamples, linear);
        return std::vector<float>(p, p + 4 * output.width * output.height);
    }
    Scene scene = plane_scene(-5, 3);
    RenderOutput output;
};

TEST_F(ReadbackTest, LinearIsMeanRadianceTimesExposure) {
    const std::vector<float> eye = {3, 6, 9, 3, 0, 0, 0, 0, 1.5f, 2.5f, 0.5f, 2, 7, 7, 7, 7};
    const std::vector<int32_t> light = {1024, 2048, 0, 0, 512, 0, 256, 2, 0, 0, 0, 0, -1024, 0, 0, 0};
    RenderOutput o = small_output(4, 1, 0, 1);
    o.exposure = 1.75f;
    fill(o, eye, light);
    constexpr int kTotal = 8;
    const std::vector<float> out = read(kTotal, true);
    for (int p = 0; p < 4; ++p)
        for (int c = 0; c < 3; ++c) {
            const float a = eye[4 * p + 3];
            const float mean = (a > 0 ? eye[4 * p + c] / a : 0.0f) +
                               static_cast<float>(light[4 * p + c]) *
                                   static_cast<float>(LIGHT_ACCUM_SCALE) / kTotal;
            EXPECT_FLOAT_EQ(out[4 * p + c], mean * o.exposure) << p << "," << c;
        }
}

TEST_F(ReadbackTest, DownsampleAveragesQualityBlocksInsideTheOverscan) {
    const RenderOutput o = small_output(3, 2, 1, 2);  // render 10 x 8
    constexpr size_t kRenderWidth = 10;
    fill(o, eye_image(80, [](size_t i) {
             const float x = static_cast<float>(i % kRenderWidth);
             const float y = static_cast<float>(i / kRenderWidth);
             return std::array<float, 3>{x, y, x * y};
         }),
         std::vector<int32_t>(4 * 80, 0));
    const std::vector<float> out = read(1, true);
    for (int oy = 0; oy < 2; ++oy)
        for (int ox = 0; ox < 3; ++ox) {
            const float x0 = 2.0f * (ox + 1), y0 = 2.0f * (oy + 1);
            const float* px = &out[4 * (oy * 3 + ox)];
            EXPECT_FLOAT_EQ(px[0], x0 + 0.5f);
            EXPECT_FLOAT_EQ(px[1], y0 + 0.5f);
            EXPECT_FLOAT_EQ(px[2], (x0 + 0.5f) * (y0 + 0.5f));
            EXPECT_EQ(px[3], 1.0f);
        }
}

TEST_F(ReadbackTest, DisplayIsMonotoneFromBlackAndQuantisesToNearestLevels) {
    constexpr size_t kPixels = 64;
    fill(small_output(kPixels, 1, 0, 1), eye_image(kPixels, [](size_t i) {
             const float v = static_cast<float>(i * i) / 64.0f;
             return std::array<float, 3>{v, 0.5f * v, 0.25f * v};
         }),
         std::vector<int32_t>(4 * kPixels, 0));
    const std::vector<float> display = read(1, false);
    EXPECT_EQ(display[0], 0.0f);
    for (size_t p = 1; p < kPixels; ++p)
        for (int c = 0; c < 3; ++c) {
            ASSERT_GE(display[4 * p + c], display[4 * (p - 1) + c]) << p;
            ASSERT_LE(display[4 * p + c], 1.0f);
        }
    EXPECT_GT(display[4 * 4], 0.1f);  // scene 0.25 is well above black

    std::vector<uint8_t> bytes;
    renderer->readbackUint8(output, 1, bytes);
    ASSERT_EQ(bytes.size(), 4 * kPixels);
    for (size_t p = 0; p < kPixels; ++p) {
        for (int c = 0; c < 3; ++c) {
            const float level = display[4 * p + c] * 255.0f;
            ASSERT_GE(bytes[4 * p + c], std::floor(level) - 0.0f) << p;
            ASSERT_LE(bytes[4 * p + c], std::ceil(level)) << p;
        }
        ASSERT_EQ(bytes[4 * p + 3], 255);
    }
    EXPECT_EQ(bytes[0], 0);
}

TEST_F(ReadbackTest, DitherKeepsTheMeanOfAnInBetweenLevel) {
    constexpr size_t kPixels = 32 * 32;
    fill(small_output(32, 32, 0, 1), eye_image(kPixels, [](size_t) {
             return std::array<float, 3>{0.2f, 0.2f, 0.2f};
         }),
         std::vector<int32_t>(4 * kPixels, 0));
    const float level = read(1, false)[0] * 255.0f;
    std::vector<uint8_t> bytes;
    renderer->readbackUint8(output, 1, bytes);
    double sum = 0;
    for (size_t p = 0; p < kPixels; ++p) sum += bytes[4 * p];
    EXPECT_NEAR(sum / kPixels, level, 0.05);
}

TEST_F(ReadbackTest, GradingPresetsDoWhatTheirNamesSay) {
    // Pixels: black, a dark grey, a bright grey, a saturated red.
    const std::vector<std::array<float, 3>> colours = {
        {0, 0, 0}, {0.05f, 0.05f, 0.05f}, {1, 1, 1}, {1, 0.2f, 0.2f}};
    fill(small_output(4, 1, 0, 1), eye_image(4, [&](size_t i) { return colours[i]; }),
         std::vector<int32_t>(16, 0));
    const auto graded = [&](const char* name) {
        const GradeRow row = grade_preset(name);
        output.exposure = row[0];
        std::copy(row.begin() + 1, row.end(), output.grade);
        return read(1, false);
    };
    const std::vector<float> neutral = graded("neutral");
    const std::vector<float> punchy = graded("punchy");
    const std::vector<float> filmic = graded("filmic");
    const std::vector<float> bleach = graded("bleach_bypass");
    EXPECT_LT(punchy[4], neutral[4]);  // more contrast: darks darker,
    EXPECT_GT(punchy[8], neutral[8]);  // brights brighter
    EXPECT_GT(filmic[0], neutral[0]);  // lifted blacks
    // Saturation of the red pixel as 1 - green / red on the display.
    const auto saturation = [](const std::vector<float>& d) { return 1.0f - d[13] / d[12]; };
    EXPECT_LT(saturation(bleach), 0.8f * saturation(neutral));
    EXPECT_GT(saturation(punchy), saturation(neutral));
}

TEST_F(RenderTest, ObjectPassesSeeThePlaneAtItsDistance) {
    // The plane starts at x = 1, three units in front of the camera. Output
    // column c looks through the padded image at u = (c + 4.5) / 24.
    Scene scene = plane_scene(1, 3);
    const RenderOutput output = small_output(16, 16, 4, 1);
    prepare(scene, output, "");
    renderer->computeAOVs(output);
    std::vector<float> depth, normal;
    std::vector<int32_t> id;
    renderer->readbackAOVs(output, depth, normal, id);
    ASSERT_EQ(depth.size(), 256u);
    ASSERT_EQ(normal.size(), 3 * 256u);
    const float halfWidth = 3.0f * output.overscan_scale() * std::tan(30.0f * M_PI / 180.0f);
    for (int row = 0; row < 16; ++row)
        for (int col = 0; col < 16; ++col) {
            const float x = ((col + 4.5f) / 24.0f - 0.5f) * 2.0f * halfWidth;
            const int p = row * 16 + col;
            SCOPED_TRACE(p);
            if (x > 1.0f) {
                ASSERT_NEAR(depth[p], 3.0f, 1e-4f);
                ASSERT_NEAR(normal[3 * p + 2], 1.0f, 1e-5f);
                ASSERT_EQ(id[p], 0);
            } else {
                ASSERT_EQ(depth[p], static_cast<float>(AOV_MISS_DEPTH));
                ASSERT_EQ(normal[3 * p + 2], 0.0f);
                ASSERT_EQ(id[p], AOV_MISS_OBJECT_ID);
            }
        }
}
