// `vitrel render --seed N --timings`: the seed reaches the image (one seed
// renders the same pixels twice, another seed other pixels) and the table
// names the passes that ran.
#include <gtest/gtest.h>
#include <stb_image.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "scratch_dir.h"

namespace {

// Renders the built-in scene into `name` (PNG), standard error into
// `name`.err; returns the exit status.
int render(const ScratchDir& dir, const std::string& name, const std::string& args) {
    const std::string cmd = "cd '" + dir.path + "' && '" VITREL_CLI_PATH
                            "' render --size 16x16 --quality 1 --spp 4 -q -o " + name + " " +
                            args + " 2>" + name + ".err";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<unsigned char> pixels(const ScratchDir& dir, const std::string& name) {
    int w = 0, h = 0, n = 0;
    unsigned char* data = stbi_load(dir.file(name).c_str(), &w, &h, &n, 4);
    std::vector<unsigned char> out;
    if (data) out.assign(data, data + static_cast<size_t>(w) * h * 4);
    stbi_image_free(data);
    return out;
}

std::string text(const ScratchDir& dir, const std::string& name) {
    const std::vector<uint8_t> bytes = read_bytes(dir.file(name));
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(TimingCli, SeedSelectsTheImageAndTimingsListThePasses) {
    ScratchDir dir;
    ASSERT_EQ(render(dir, "a.png", "--seed 5 --timings"), 0) << text(dir, "a.png.err");
    ASSERT_EQ(render(dir, "b.png", "--seed 5"), 0) << text(dir, "b.png.err");
    ASSERT_EQ(render(dir, "c.png", "--seed 6"), 0) << text(dir, "c.png.err");
    const std::vector<unsigned char> a = pixels(dir, "a.png");
    ASSERT_EQ(a.size(), 16u * 16u * 4u);
    EXPECT_EQ(a, pixels(dir, "b.png"));
    EXPECT_NE(a, pixels(dir, "c.png"));

    const std::string table = text(dir, "a.png.err");
    EXPECT_NE(table.find("GPU timings on GPU 0"), std::string::npos) << table;
    for (const char* row : {"\n  trace ", "\n  filter ", "\n  post ", "\n  quantize ",
                            "\n  GPU total ", "\n  host batches "})
        EXPECT_NE(table.find(row), std::string::npos) << row << "\n" << table;
    EXPECT_EQ(table.find("aov"), std::string::npos) << "no AOV pass ran";
    EXPECT_EQ(text(dir, "b.png.err"), "");
}
