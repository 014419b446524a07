// Renders the Cornell box (scenes/cornell_box.json) to a PNG through the
// display chain: the picture in the README (docs/cornell.png).
//
// Usage: cornell_png OUTPUT.png [size [samples]]   (defaults 256, 1024)
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pathtrace/render_setup.h"

namespace {
constexpr int kBounces = 8;
constexpr int kBatch = 64;
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [size [samples]]\n", argv[0]);
        return 2;
    }
    const int size = argc > 2 ? std::atoi(argv[2]) : 256;
    const int samples = argc > 3 ? std::atoi(argv[3]) : 1024;
    Scene scene = cornell_box_scene(std::string(VITREL_SOURCE_DIR) + "/scenes/cornell_box.json");
    RenderOutput output;
    output.width = output.height = static_cast<uint32_t>(size);
    output.quality = 1;
    VkRenderer r;
    prepare_renderer(r, scene, output, false, VITREL_SHADER_DIR, "");
    for (int s = 0; s < samples; s += kBatch)
        r.renderBatch(scene, output, std::min(kBatch, samples - s), kBounces, 0, s, s == 0);
    std::vector<uint8_t> rgba;
    r.readbackUint8(output, samples, rgba);
    r.destroy();
    return stbi_write_png(argv[1], size, size, 4, rgba.data(), 4 * size) ? 0 : 1;
}
