// What an importer tells the program besides the vitrel_* calls it made:
// warnings, the features it could not map, whether the file placed a camera,
// and the world-space bounds of the geometry (for a framing camera).
#pragma once

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/vitrel_api.h"

// A file that cannot be imported. The text names the file and the reason and
// is printed as it is; the scene may hold part of the file's content.
struct ImportError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A camera as vitrel_set_camera takes it.
struct CameraPose {
    float position[3] = {0.0f, 0.0f, 1.0f};
    float look_at[3] = {0.0f, 0.0f, 0.0f};
    float up[3] = {0.0f, 1.0f, 0.0f};
    float fov = 40.0f;  // vertical, degrees
    float aperture = 0.0f;
    float focus_distance = 1.0f;
};

struct Keyframe {
    float time = 0.0f;
    float position[3] = {0.0f, 0.0f, 0.0f};
    float look_at[3] = {0.0f, 0.0f, 0.0f};
};

// The camera animation as handed to vitrel_set_animation/vitrel_add_keyframe.
struct CameraAnimation {
    bool loop = false;
    float duration = 0.0f;
    float fps = 30.0f;
    std::vector<Keyframe> keyframes;
};

struct ImportReport {
    std::vector<std::string> warnings;  // one line each, without the file name
    std::set<std::string> unsupported;  // features met but not mapped, by name
    bool has_camera = false;
    CameraPose camera;           // the camera the file set, when has_camera
    CameraAnimation animation;   // as set in the context
    bool uses_expression_graphs = false;  // some material has a host graph
    bool has_bounds = false;
    float bounds_min[3] = {0.0f, 0.0f, 0.0f};
    float bounds_max[3] = {0.0f, 0.0f, 0.0f};

    void warn(std::string text) { warnings.push_back(std::move(text)); }
    void unsupported_feature(std::string name) { unsupported.insert(std::move(name)); }
    void extend_bounds(const float p[3]);
    // Sets the camera in the context and remembers it.
    void set_camera(VitrelContext* ctx, const CameraPose& pose);
};

// The warnings for `file`: each warning on its own line and every unsupported
// feature together in one line, all prefixed "warning: <file>: ".
std::vector<std::string> report_lines(const ImportReport& report, const std::string& file);

// Builds "<file>: <reason>" as the text of an ImportError.
[[noreturn]] void import_fail(const std::string& file, const std::string& reason);
