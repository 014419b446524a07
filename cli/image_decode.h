// Decoding of texture and environment images with size limits, so that a
// file declaring an enormous image is refused before anything is allocated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Largest edge and texel count accepted for one image: 16K x 16K would take
// 1 GiB as RGBA8 before the atlas copies it, beyond any sensible texture.
constexpr int kMaxImageEdge = 16384;
constexpr int64_t kMaxImageTexels = int64_t{8192} * 8192;

struct DecodedImage {
    int width = 0;
    int height = 0;
    int channels = 0;               // 1 to 4
    std::vector<uint8_t> pixels8;   // 8-bit images
    std::vector<float> pixelsf;     // Radiance .hdr (linear floats)
};

// Checks a declared size against the limits; returns "" when it is
// acceptable, else the reason.
std::string image_size_problem(int64_t width, int64_t height);

// Decodes PNG, JPEG, BMP, TGA, GIF, PSD, PIC, PNM (8 bits per channel, as
// stored: 1 to 4 channels) or Radiance HDR (3 float channels) from memory.
// Returns false with `reason` set when the bytes are not a supported image
// or the image is above the limits.
bool decode_image(const uint8_t* bytes, size_t size, DecodedImage& out, std::string& reason);

// Reads a whole file; false with the system's reason when it cannot.
bool read_file_bytes(const std::string& path, std::vector<uint8_t>& out, std::string& reason);
