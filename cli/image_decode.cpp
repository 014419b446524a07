#include "cli/image_decode.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

#include <stb_image.h>

namespace {

constexpr uint8_t kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr size_t kPngChunkOverhead = 12;  // length, type, CRC

uint32_t big_endian_u32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// stb_image grows its buffer for compressed PNG data to each chunk's
// declared length before it reads the chunk, so a few bytes that claim a
// huge chunk would make it allocate that much: every chunk up to IEND must
// fit in the bytes actually given, and so must a chunk header cut short by
// the end of the file (the decoder reads its length all the same). Anything
// else is left to the decoder.
bool png_chunks_fit(const uint8_t* bytes, size_t size) {
    if (size < sizeof kPngSignature || std::memcmp(bytes, kPngSignature, sizeof kPngSignature) != 0) return true;
    size_t at = sizeof kPngSignature;
    while (size - at >= kPngChunkOverhead) {
        const uint32_t length = big_endian_u32(bytes + at);
        if (length > size - at - kPngChunkOverhead) return false;
        const bool last = std::memcmp(bytes + at + 4, "IEND", 4) == 0;
        at += kPngChunkOverhead + length;
        if (last) return true;
    }
    return at == size;
}

}  // namespace

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
    if (!png_chunks_fit(bytes, size)) {
        reason = "corrupt image data (a PNG chunk runs past the end of the file)";
        return false;
    }
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
