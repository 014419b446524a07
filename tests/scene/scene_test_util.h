// Helpers shared by the scene preparation tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "scene/scene.h"
#include "scene/scene_prep.h"

namespace scene_test {

inline uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

inline uint32_t bits(int32_t i) { return static_cast<uint32_t>(i); }

// 32-bit little-endian word `index` of an arbitrary record.
template <class T>
uint32_t word_at(const T& record, size_t index) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return uint32_t{bytes[4 * index]} | uint32_t{bytes[4 * index + 1]} << 8 | uint32_t{bytes[4 * index + 2]} << 16 |
           uint32_t{bytes[4 * index + 3]} << 24;
}

inline size_t count_occurrences(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// Runs build_scene_buffer on a square 64 x 64 image without overscan and
// returns what it printed.
inline std::string prepare(Scene& scene) {
    testing::internal::CaptureStdout();
    build_scene_buffer(scene, 64, 64, 1.0f);
    return testing::internal::GetCapturedStdout();
}

}  // namespace scene_test
