// Writing rendered images: 8-bit PNG for display, OpenEXR for linear
// radiance plus the auxiliary passes as named layers. A file is written
// under a temporary name beside the target and renamed over it, so a failed
// or interrupted write never leaves a partial image at the target path.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct OutputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Key/value text stored in the file: PNG tEXt chunks, EXR string attributes.
using ImageMetadata = std::vector<std::pair<std::string, std::string>>;

// Optional passes for an EXR file; null pointers are left out.
struct AovPlanes {
    const float* depth = nullptr;      // 1 float per pixel, layer "depth" (channel Z)
    const float* normal = nullptr;     // 3 floats per pixel, layer "normal" (X, Y, Z)
    const int32_t* object_id = nullptr;  // 1 int per pixel, layer "object_id" (id), -1 = none
};

// Writes width x height RGBA bytes as an RGB PNG. Throws OutputError.
void write_png(const std::string& path, const uint8_t* rgba, int width, int height, const ImageMetadata& meta);

// Writes linear RGBA floats as a half-free (32-bit float) OpenEXR image, with
// the given passes as layers. Throws OutputError.
void write_exr(const std::string& path, const float* rgba, int width, int height, const AovPlanes& aovs,
               const ImageMetadata& meta);

// "<dir>/<name>.tmp-<pid>": the temporary file written before the rename.
std::string temporary_path(const std::string& path);

// Replaces the `%04d`-style field (any width, or plain "%d") in `pattern`
// with `frame`; a pattern without one gets "_<frame, 4 digits>" before its
// extension.
std::string frame_path(const std::string& pattern, int frame);
