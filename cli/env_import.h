// Environment maps: latitude-longitude images in Radiance .hdr or OpenEXR.
#pragma once

#include <string>
#include <vector>

#include "api/vitrel_api.h"

struct EnvImage {
    int width = 0;
    int height = 0;
    std::vector<float> rgb;  // 3 linear floats per texel, rows top to bottom
};

// Reads `path` (.hdr, or .exr by extension). Throws ImportError naming the
// file and the reason when it is missing, unreadable, malformed or above the
// image size limits.
EnvImage load_env_image(const std::string& path);

// Loads `path` and makes it the context's environment, turned about the
// vertical axis by `rotation_deg` and scaled by `intensity`.
void apply_env_file(VitrelContext* ctx, const std::string& path, float intensity, float rotation_deg);
