// `vitrel render --seed N --timings`: the seed reaches the image (one seed
// renders the same pixels twice, another seed other pixels) and the table
// names the passes that ran.
#include <gtest/gtest.h>
#include <stb_image.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kDir = fs::temp_directory_path() / ("vitrel_timing_cli_" + std::to_string(getpid()));

// Renders the built-in scene into `name` (PNG); returns the exit status.
int render(const std::string& name, const std::string& args) {
    fs::create_directories(kDir);
    const std::string cmd = "cd '" + kDir.string() + "' && '" VITREL_CLI_PATH
                            "' render --size 16x16 --quality 1 --spp 4 -q -o " + name + " " +
                            args + " 2>" + name + ".err";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<unsigned char> pixels(const std::string& name) {
    int w = 0, h = 0, n = 0;
    unsigned char* data = stbi_load((kDir / name).c_str(), &w, &h, &n, 4);
    std::vector<unsigned char> out;
    if (data) out.assign(data, data + static_cast<size_t>(w) * h * 4);
    stbi_image_free(data);
    return out;
}

std::string text(const std::string& name) {
    std::ifstream in(kDir / name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(TimingCli, SeedSelectsTheImageAndTimingsListThePasses) {
    ASSERT_EQ(render("a.png", "--seed 5 --timings"), 0) << text("a.png.err");
    ASSERT_EQ(render("b.png", "--seed 5"), 0) << text("b.png.err");
    ASSERT_EQ(render("c.png", "--seed 6"), 0) << text("c.png.err");
    const std::vector<unsigned char> a = pixels("a.png");
    ASSERT_EQ(a.size(), 16u * 16u * 4u);
    EXPECT_EQ(a, pixels("b.png"));
    EXPECT_NE(a, pixels("c.png"));

    const std::string table = text("a.png.err");
    EXPECT_NE(table.find("GPU timings on GPU 0"), std::string::npos) << table;
    for (const char* row : {"\n  trace ", "\n  filter ", "\n  post ", "\n  quantize ",
                            "\n  GPU total ", "\n  host batches "})
        EXPECT_NE(table.find(row), std::string::npos) << row << "\n" << table;
    EXPECT_EQ(table.find("aov"), std::string::npos) << "no AOV pass ran";
    EXPECT_EQ(text("b.png.err"), "");
    fs::remove_all(kDir);
}
