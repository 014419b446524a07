#include "cli/env_import.h"

#include <cmath>

#include <ImfArray.h>
#include <ImfHeader.h>
#include <ImfRgbaFile.h>

#include "cli/image_decode.h"
#include "cli/import_report.h"

namespace {

bool has_suffix(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) != suffix[i]) return false;
    }
    return true;
}

EnvImage load_exr(const std::string& path) {
    EnvImage env;
    try {
        Imf::RgbaInputFile file(path.c_str());
        const Imath::Box2i dw = file.dataWindow();
        const int64_t w = int64_t{dw.max.x} - dw.min.x + 1;
        const int64_t h = int64_t{dw.max.y} - dw.min.y + 1;
        const std::string problem = image_size_problem(w, h);
        if (!problem.empty()) import_fail(path, problem);
        Imf::Array2D<Imf::Rgba> pixels(h, w);
        file.setFrameBuffer(&pixels[0][0] - dw.min.x - dw.min.y * w, 1, static_cast<size_t>(w));
        file.readPixels(dw.min.y, dw.max.y);
        env.width = static_cast<int>(w);
        env.height = static_cast<int>(h);
        env.rgb.resize(static_cast<size_t>(w * h * 3));
        for (int64_t y = 0; y < h; ++y)
            for (int64_t x = 0; x < w; ++x) {
                const Imf::Rgba& p = pixels[y][x];
                float* out = &env.rgb[static_cast<size_t>((y * w + x) * 3)];
                out[0] = p.r;
                out[1] = p.g;
                out[2] = p.b;
            }
    } catch (const ImportError&) {
        throw;
    } catch (const std::exception& e) {
        import_fail(path, std::string("not a readable OpenEXR image (") + e.what() + ")");
    }
    return env;
}

}  // namespace

EnvImage load_env_image(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::string reason;
    if (!read_file_bytes(path, bytes, reason)) import_fail(path, reason);
    if (bytes.empty()) import_fail(path, "the file is empty");
    if (has_suffix(path, ".exr")) return load_exr(path);
    DecodedImage img;
    if (!decode_image(bytes.data(), bytes.size(), img, reason)) import_fail(path, reason);
    EnvImage env;
    env.width = img.width;
    env.height = img.height;
    if (!img.pixelsf.empty()) {
        env.rgb = std::move(img.pixelsf);
        return env;
    }
    // An 8-bit image is display-referred sRGB; decode it to linear radiance.
    env.rgb.resize(static_cast<size_t>(img.width) * img.height * 3);
    for (size_t i = 0; i < env.rgb.size() / 3; ++i)
        for (int k = 0; k < 3; ++k) {
            const float c = img.pixels8[i * img.channels + static_cast<size_t>(std::min(k, img.channels - 1))] / 255.0f;
            env.rgb[i * 3 + k] = c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
        }
    return env;
}

void apply_env_file(VitrelContext* ctx, const std::string& path, float intensity, float rotation_deg) {
    const EnvImage env = load_env_image(path);
    const float rotation[3] = {0.0f, rotation_deg, 0.0f};
    if (vitrel_set_envmap(ctx, env.rgb.data(), env.width, env.height, rotation, intensity) != 0) {
        import_fail(path, "rejected by the library");
    }
}
