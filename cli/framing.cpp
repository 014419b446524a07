#include "cli/framing.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr float kPi = 3.14159265f;
constexpr float kElevation = 0.35f;  // rise of the viewing direction per unit back
constexpr float kMargin = 1.1f;      // room around the bounding sphere
constexpr float kMinRadius = 1e-3f;
}  // namespace

CameraPose framing_camera(const ImportReport& report, float fov_deg, float aspect) {
    CameraPose pose;
    pose.fov = fov_deg;
    if (!report.has_bounds) return pose;
    float centre[3], radius2 = 0.0f;
    for (int k = 0; k < 3; ++k) {
        centre[k] = 0.5f * (report.bounds_min[k] + report.bounds_max[k]);
        const float half = 0.5f * (report.bounds_max[k] - report.bounds_min[k]);
        radius2 += half * half;
    }
    const float radius = std::max(std::sqrt(radius2), kMinRadius);
    const float half_v = 0.5f * fov_deg * kPi / 180.0f;
    const float half_h = std::atan(std::tan(half_v) * std::max(aspect, 1e-3f));
    const float distance = kMargin * radius / std::sin(std::min(half_v, half_h));
    const float norm = std::sqrt(1.0f + kElevation * kElevation);
    const float dir[3] = {0.0f, kElevation / norm, 1.0f / norm};
    for (int k = 0; k < 3; ++k) {
        pose.look_at[k] = centre[k];
        pose.position[k] = centre[k] + dir[k] * distance;
    }
    return pose;
}
