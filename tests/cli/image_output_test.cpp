// Image files: PNG pixels and metadata, EXR layers, never a partial file,
// frame numbering of output names; and the progress text.
#include <gtest/gtest.h>

#include <filesystem>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfStringAttribute.h>
#include <stb_image.h>

#include "cli/image_output.h"
#include "cli/progress.h"
#include "comma_locale.h"
#include "import_fixtures.h"

namespace {

TEST(ImageOutput, PngKeepsPixelsAndCarriesMetadata) {
    ScratchDir dir;
    std::vector<uint8_t> rgba(3 * 2 * 4);
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 9);
    write_png(dir.file("a.png"), rgba.data(), 3, 2, {{"vitrel:samples", "64"}});
    int w = 0, h = 0, c = 0;
    stbi_uc* px = stbi_load(dir.file("a.png").c_str(), &w, &h, &c, 4);
    ASSERT_NE(px, nullptr);
    EXPECT_EQ(w, 3);
    EXPECT_EQ(h, 2);
    for (size_t i = 0; i < rgba.size(); ++i) {
        if (i % 4 != 3) {
            EXPECT_EQ(px[i], rgba[i]) << i;
        }
    }
    stbi_image_free(px);
    const std::vector<uint8_t> bytes = read_bytes(dir.file("a.png"));
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find(std::string("tEXtvitrel:samples\0" "64", 21)), std::string::npos);
}

TEST(ImageOutput, ExrHoldsLinearColourAndPassLayers) {
    ScratchDir dir;
    const std::vector<float> rgba = {0.5f, 2.0f, 8.0f, 1.0f, 0.0f, 0.25f, 1e4f, 1.0f};
    const std::vector<float> depth = {1.5f, -1.0f};
    const std::vector<float> normal = {0, 1, 0, 1, 0, 0};
    const std::vector<int32_t> ids = {3, -1};
    AovPlanes aovs{depth.data(), normal.data(), ids.data()};
    write_exr(dir.file("a.exr"), rgba.data(), 2, 1, aovs, {{"vitrel:device", "llvmpipe"}});
    Imf::InputFile in(dir.file("a.exr").c_str());
    const auto* device = in.header().findTypedAttribute<Imf::StringAttribute>("vitrel:device");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->value(), "llvmpipe");
    std::vector<float> b(2), z(2), id(2), ny(2);
    Imf::FrameBuffer fb;
    fb.insert("B", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(b.data()), 4, 8));
    fb.insert("depth.Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(z.data()), 4, 8));
    fb.insert("normal.Y", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(ny.data()), 4, 8));
    fb.insert("object_id.id", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(id.data()), 4, 8));
    in.setFrameBuffer(fb);
    in.readPixels(0, 0);
    EXPECT_EQ(b, (std::vector<float>{8.0f, 1e4f}));
    EXPECT_EQ(z, depth);
    EXPECT_EQ(ny, (std::vector<float>{1.0f, 0.0f}));
    EXPECT_EQ(id, (std::vector<float>{3.0f, -1.0f}));
}

TEST(ImageOutput, FailedWriteLeavesNeitherTargetNorTemporaryFile) {
    ScratchDir dir;
    const uint8_t px[4] = {1, 2, 3, 255};
    const float pf[4] = {1, 2, 3, 1};
    // The target is an existing directory: the rename fails after the
    // temporary file was written in full.
    std::filesystem::create_directory(dir.file("taken.png"));
    std::filesystem::create_directory(dir.file("taken.exr"));
    EXPECT_THROW(write_png(dir.file("taken.png"), px, 1, 1, {}), OutputError);
    EXPECT_THROW(write_exr(dir.file("taken.exr"), pf, 1, 1, {}, {}), OutputError);
    EXPECT_THROW(write_png(dir.file("no/such/dir.png"), px, 1, 1, {}), OutputError);
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) entries += e.is_regular_file();
    EXPECT_EQ(entries, 0u);
}

TEST(ImageOutput, FrameNumbersFillThePatternOrAreAppended) {
    EXPECT_EQ(frame_path("out/f%04d.png", 7), "out/f0007.png");
    EXPECT_EQ(frame_path("f%d.exr", 12), "f12.exr");
    EXPECT_EQ(frame_path("f%2d_x.png", 3), "f03_x.png");
    EXPECT_EQ(frame_path("anim.png", 5), "anim_0005.png");
    EXPECT_EQ(frame_path("dir.v2/anim", 5), "dir.v2/anim_0005");
    EXPECT_EQ(frame_path("100%.png", 1), "100%_0001.png");
}

// Hosts that set a comma locale still get a decimal point in the progress
// lines and the image metadata.
TEST(ProgressText, NumbersKeepTheDecimalPointUnderACommaLocale) {
    CommaLocale comma;
    SKIP_WITHOUT_COMMA_LOCALE(comma);
    Progress lines(Progress::Mode::Lines, "frame 1: ", 16, 0.0);
    ::testing::internal::CaptureStderr();
    lines.update(8, 2.0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "frame 1: 8/16 spp, 4.0 spp/s, 2.0 s, ETA 2 s\n");
    EXPECT_EQ(fixed_text(1.25, 3), "1.250");
}

}  // namespace
