#include "cli/image_decode.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include <stb_image.h>

std::string image_size_problem(int64_t width, int64_t height) {
    if (width < 1 || height < 1) return "the image has no texels";
    if (width > kMaxImageEdge || height > kMaxImageEdge || width * height > kMaxImageTexels) {
        return "the image is " + std::to_string(width) + " x " + std::to_string(height) +
               " texels, above the limit of " + std::to_string(kMaxImageEdge) + " per edge and " +
               std::to_string(kMaxImageTexels) + " in all";
    }
    return "";
}

bool decode_image(const uint8_t* bytes, size_t size, DecodedImage& out, std::string& reason) {
    if (size == 0 || size > static_cast<size_t>(INT_MAX)) {
        reason = size == 0 ? "the image file is empty" : "the image file is too large";
        return false;
    }
    const int len = static_cast<int>(size);
    int w = 0, h = 0, comp = 0;
    if (!stbi_info_from_memory(bytes, len, &w, &h, &comp)) {
        reason = std::string("not a readable image (") + stbi_failure_reason() + ")";
        return false;
    }
    reason = image_size_problem(w, h);
    if (!reason.empty()) return false;
    const bool hdr = stbi_is_hdr_from_memory(bytes, len) != 0;
    out.width = w;
    out.height = h;
    if (hdr) {
        std::unique_ptr<float, void (*)(void*)> data(stbi_loadf_from_memory(bytes, len, &w, &h, &comp, 3),
                                                      stbi_image_free);
        if (!data) {
            reason = std::string("corrupt image data (") + stbi_failure_reason() + ")";
            return false;
        }
        out.channels = 3;
        out.pixelsf.assign(data.get(), data.get() + static_cast<size_t>(w) * h * 3);
        return true;
    }
    std::unique_ptr<stbi_uc, void (*)(void*)> data(stbi_load_from_memory(bytes, len, &w, &h, &comp, 0),
                                                   stbi_image_free);
    if (!data || comp < 1 || comp > 4) {
        reason = std::string("corrupt image data (") + (data ? "channel count" : stbi_failure_reason()) + ")";
        return false;
    }
    out.channels = comp;
    out.pixels8.assign(data.get(), data.get() + static_cast<size_t>(w) * h * comp);
    return true;
}

bool read_file_bytes(const std::string& path, std::vector<uint8_t>& out, std::string& reason) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) {
        reason = std::strerror(errno);
        return false;
    }
    out.clear();
    uint8_t chunk[1 << 16];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) out.insert(out.end(), chunk, chunk + n);
    if (std::ferror(f.get())) {
        reason = std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}
