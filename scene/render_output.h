// Description of the image to produce, handed by const reference to every
// renderer operation that builds, renders or reads back.
#pragma once

#include <cstdint>

struct RenderOutput {
    uint32_t width = 512;
    uint32_t height = 512;
    uint32_t overscan = 4;  // border rendered on every side, cut away on output
    uint32_t quality = 2;   // supersampling factor per axis
    uint32_t post_mode = 0;
    float post_param0 = 0.5f;
    float post_param1 = 4.5f;
    float exposure = 1.0f;
    float grade[5] = {1.0f, 1.0f, 1.0f, 0.0f, 1.0f};

    uint32_t padded_width() const { return width + 2 * overscan; }
    uint32_t padded_height() const { return height + 2 * overscan; }
    // The arguments build_scene_buffer takes for this output. The scale is
    // computed in single precision, as the camera packing expects.
    float overscan_scale() const {
        return static_cast<float>(padded_height()) / static_cast<float>(height);
    }
};
