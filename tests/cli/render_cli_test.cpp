// The vitrel program end to end on lavapipe: the demo scene with its passes
// and cache, two GPUs against one, a textured glTF quad's colour and an
// animated frame range.
// Images are judged by statistics, never by eye.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <ImfArray.h>
#include <ImfFrameBuffer.h>
#include <ImfInputFile.h>
#include <ImfRgbaFile.h>

#include <set>
#include <stb_image.h>

#include "cli/scene_import.h"
#include "import_fixtures.h"

namespace {

// Runs the program with `args` in `dir`; returns its exit status.
int run(const ScratchDir& dir, const std::string& args, const std::string& env = "") {
    const std::string cmd = "cd '" + dir.path + "' && " + env + " '" VITREL_CLI_PATH "' " + args + " -q >/dev/null 2>err.txt";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string errors(const ScratchDir& dir) {
    const std::vector<uint8_t> bytes = read_bytes(dir.file("err.txt"));
    return std::string(bytes.begin(), bytes.end());
}

struct Image {
    int width = 0, height = 0;
    std::vector<float> rgb;  // 3 per pixel
    double mean(int c) const {
        double s = 0;
        for (size_t i = static_cast<size_t>(c); i < rgb.size(); i += 3) s += rgb[i];
        return s / (rgb.size() / 3);
    }
};

Image read_exr(const std::string& path) {
    Imf::RgbaInputFile in(path.c_str());
    const Imath::Box2i dw = in.dataWindow();
    Image img;
    img.width = dw.max.x - dw.min.x + 1;
    img.height = dw.max.y - dw.min.y + 1;
    Imf::Array2D<Imf::Rgba> px(img.height, img.width);
    in.setFrameBuffer(&px[0][0] - dw.min.x - dw.min.y * img.width, 1, static_cast<size_t>(img.width));
    in.readPixels(dw.min.y, dw.max.y);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) img.rgb.insert(img.rgb.end(), {px[y][x].r, px[y][x].g, px[y][x].b});
    return img;
}

Image read_png(const std::string& path) {
    Image img;
    int c = 0;
    stbi_uc* px = stbi_load(path.c_str(), &img.width, &img.height, &c, 3);
    if (!px) return img;
    img.rgb.assign(px, px + static_cast<size_t>(img.width) * img.height * 3);
    stbi_image_free(px);
    return img;
}

// A Radiance .hdr of `width` x 1 texels of radiance 1 (RGBE 128,128,128,129).
void write_white_hdr(const std::string& path, int width) {
    std::string s = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X " + std::to_string(width) + "\n";
    for (int i = 0; i < width; ++i) s += "\x80\x80\x80\x81";
    write_text(path, s);
}

// One render of the demo scene feeds the checks of the image, its passes
// and the saved cache.
TEST(RenderCli, DemoSceneWithPassesAndCache) {
    ScratchDir dir;
    ASSERT_EQ(run(dir, "render -o one.exr --size 32x32 --spp 8 --aov depth,id --save-cache box.vsb"), 0)
        << errors(dir);
    const Image a = read_exr(dir.file("one.exr"));
    ASSERT_EQ(a.width, 32);
    // The red wall is on the left.
    double left_r = 0, left_g = 0;
    for (int y = 8; y < 24; ++y) {
        left_r += a.rgb[(y * 32 + 2) * 3];
        left_g += a.rgb[(y * 32 + 2) * 3 + 1];
    }
    EXPECT_GT(left_r, 2.0 * left_g);

    // The passes are EXR layers with one id per object: the box's walls,
    // floor and blocks are separate objects of the scene.
    Imf::InputFile in(dir.file("one.exr").c_str());
    std::vector<float> depth(32 * 32), id(32 * 32);
    Imf::FrameBuffer fb;
    fb.insert("depth.Z", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(depth.data()), 4, 4 * 32));
    fb.insert("object_id.id", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(id.data()), 4, 4 * 32));
    in.setFrameBuffer(fb);
    in.readPixels(0, 31);
    std::set<float> ids;
    for (size_t i = 0; i < id.size(); ++i) {
        ids.insert(id[i]);
        if (id[i] >= 0) {
            EXPECT_GT(depth[i], 0.0f) << i;
        }
    }
    EXPECT_GE(ids.size(), 5u);
    EXPECT_LT(*ids.rbegin(), 16.0f);

    // The saved cache renders again, lit, into a PNG with its metadata.
    ASSERT_EQ(run(dir, "render box.vsb -o b.png --size 16x16 --spp 4"), 0) << errors(dir);
    EXPECT_GT(read_png(dir.file("b.png")).mean(0), 20.0);
    const std::vector<uint8_t> bytes = read_bytes(dir.file("b.png"));
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("vitrel:samples"), std::string::npos);
}

TEST(RenderCli, TwoGpusGiveTheImageOfOne) {
    ScratchDir dir;
    const std::string two = "VK_DRIVER_FILES=" VITREL_ICD_A ":" VITREL_ICD_B;
    ASSERT_EQ(run(dir, "render -o one.exr --size 32x32 --spp 32", two), 0) << errors(dir);
    ASSERT_EQ(run(dir, "render -o two.exr --size 32x32 --spp 32 --gpus 0,1", two), 0) << errors(dir);
    const Image a = read_exr(dir.file("one.exr"));
    const Image b = read_exr(dir.file("two.exr"));
    ASSERT_EQ(a.rgb.size(), b.rgb.size());
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(b.mean(c), a.mean(c), 0.03 * a.mean(c) + 1e-3) << c;
    // Pixel by pixel the difference is noise: its mean is near zero.
    double diff = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) diff += b.rgb[i] - a.rgb[i];
    EXPECT_LT(std::abs(diff / a.rgb.size()), 0.02 * (a.mean(0) + a.mean(1) + a.mean(2)) / 3);
}

TEST(RenderCli, TexturedQuadShowsItsTextureColour) {
    ScratchDir dir;
    const uint8_t red[4] = {255, 0, 0, 255};
    write_bytes(dir.file("red.png"), solid_png(8, 8, red));
    write_white_hdr(dir.file("white.hdr"), 4);
    GltfDoc doc = quad_gltf();
    const int tex = add_texture(doc, "red.png");
    doc.json["materials"][0]["pbrMetallicRoughness"] = {{"baseColorTexture", {{"index", tex}}}, {"metallicFactor", 0.0},
                                                        {"roughnessFactor", 1.0}};
    doc.json["cameras"] = {{{"type", "perspective"}, {"perspective", {{"yfov", 0.3}, {"znear", 0.01}}}}};
    doc.json["nodes"].push_back({{"camera", 0}, {"translation", {0.5, 0.5, 2.0}}});
    doc.json["scenes"][0]["nodes"] = {0, 1};
    save_glb(doc, dir.file("quad.glb"));
    ASSERT_EQ(run(dir, "render quad.glb --camera-index 0 --env white.hdr -o q.exr --size 16x16 --spp 16"), 0)
        << errors(dir);
    const Image img = read_exr(dir.file("q.exr"));
    // Under a uniform white sky a diffuse red quad reflects about its
    // albedo in red and almost nothing in green and blue.
    EXPECT_GT(img.mean(0), 0.5);
    EXPECT_LT(img.mean(0), 1.2);
    EXPECT_LT(img.mean(1), 0.15 * img.mean(0));
    EXPECT_LT(img.mean(2), 0.15 * img.mean(0));
}

TEST(RenderCli, FrameRangeWritesOneImagePerFrame) {
    ScratchDir dir;
    std::string scene = builtin_scene_text();
    const std::string anim = R"("animation": {"duration": 2, "fps": 1, "keyframes": [
        {"time": 0, "position": [278, 273, -800], "look_at": [278, 273, 0]},
        {"time": 2, "position": [100, 273, -800], "look_at": [278, 273, 0]}]}, )";
    scene.insert(scene.find('{') + 1, anim);
    write_text(dir.file("anim.json"), scene);
    ASSERT_EQ(run(dir, "render anim.json --frames 0-2 -o f%02d.png --size 16x16 --spp 2"), 0)
        << errors(dir);
    const Image f0 = read_png(dir.file("f00.png"));
    const Image f2 = read_png(dir.file("f02.png"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("f01.png")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("f03.png")));
    ASSERT_EQ(f0.rgb.size(), f2.rgb.size());
    EXPECT_NE(f0.rgb, f2.rgb);  // the camera moved
    // Without an animation, a frame range is refused.
    EXPECT_EQ(run(dir, "render --frames 0-1 -o g.png --size 16x16 --spp 1"), 1);
}

}  // namespace
