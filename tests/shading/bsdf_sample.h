// Records shared by the BSDF and principled-BSDF test programs.
#pragma once

#include <algorithm>
#include <cmath>

// One BSDF sample as the test programs write it: direction, pdf, weight and
// flags (bit 0 = valid).
struct Sample {
    float wi[3];
    float pdf;
    float weight[3];
    float flags;
};
static_assert(sizeof(Sample) == 32, "matches the programs' output stride");

// Unit direction with polar cosine `c` and azimuth `phi` (radians) in the
// shading frame (z = normal), written as three floats.
inline void direction_at(double c, double phi, float* xyz) {
    const double s = std::sqrt(std::max(0.0, 1.0 - c * c));
    xyz[0] = static_cast<float>(s * std::cos(phi));
    xyz[1] = static_cast<float>(s * std::sin(phi));
    xyz[2] = static_cast<float>(c);
}
