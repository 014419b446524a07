// Description of the image to produce, handed by const reference to every
// renderer operation that builds, renders or reads back.
#pragma once

#include <cstdint>
#include <string>

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

    // Largest render extent per axis: pixel counts stay in signed 32 bits.
    static constexpr uint64_t kMaxRenderExtent = 0x7FFFFFFF;

    // Widened so that sizes stored from negative host values cannot wrap
    // into small ones.
    uint64_t padded_width() const { return uint64_t{width} + 2 * uint64_t{overscan}; }
    uint64_t padded_height() const { return uint64_t{height} + 2 * uint64_t{overscan}; }
    // The arguments build_scene_buffer takes for this output. The scale is
    // computed in single precision, as the camera packing expects.
    float overscan_scale() const {
        return static_cast<float>(padded_height()) / static_cast<float>(height);
    }

    // Width, height and quality are stored as the host gives them, negative
    // values included (as huge unsigned ones). Checked before anything is
    // sized from them: "" when the output can be rendered, that is each is
    // at least 1 and each render axis, (size + 2 overscan) x quality, is at
    // most kMaxRenderExtent; otherwise the reason, with the values as the
    // host gave them.
    std::string size_error() const {
        const auto fits = [this](uint32_t size) {
            const uint64_t padded = uint64_t{size} + 2 * uint64_t{overscan};
            return size >= 1 && quality >= 1 && padded <= kMaxRenderExtent &&
                   padded * quality <= kMaxRenderExtent;
        };
        if (fits(width) && fits(height)) return {};
        return "Output size " + std::to_string(static_cast<int32_t>(width)) + " x " +
               std::to_string(static_cast<int32_t>(height)) + " at quality " +
               std::to_string(static_cast<int32_t>(quality)) + " is not renderable";
    }
};
