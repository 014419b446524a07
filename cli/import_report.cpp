#include "cli/import_report.h"

#include <algorithm>

void ImportReport::extend_bounds(const float p[3]) {
    for (int k = 0; k < 3; ++k) {
        bounds_min[k] = has_bounds ? std::min(bounds_min[k], p[k]) : p[k];
        bounds_max[k] = has_bounds ? std::max(bounds_max[k], p[k]) : p[k];
    }
    has_bounds = true;
}

void ImportReport::set_camera(VitrelContext* ctx, const CameraPose& pose) {
    vitrel_set_camera(ctx, pose.position, pose.look_at, pose.up, pose.fov, pose.aperture, pose.focus_distance);
    camera = pose;
    has_camera = true;
}

std::vector<std::string> report_lines(const ImportReport& report, const std::string& file) {
    std::vector<std::string> lines;
    for (const std::string& w : report.warnings) lines.push_back("warning: " + file + ": " + w);
    if (!report.unsupported.empty()) {
        std::string line = "warning: " + file + ": not supported, ignored: ";
        bool first = true;
        for (const std::string& name : report.unsupported) {
            line += (first ? "" : ", ") + name;
            first = false;
        }
        lines.push_back(line);
    }
    return lines;
}

void import_fail(const std::string& file, const std::string& reason) {
    throw ImportError(file + ": " + reason);
}
