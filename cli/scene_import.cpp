#include "cli/scene_import.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "cli/gltf_import.h"
#include "cli/image_decode.h"
#include "cli/json_scene_import.h"
#include "cli/obj_import.h"
#include "cli/vsb_import.h"

extern const char kCornellBoxJson[];
extern const unsigned long kCornellBoxJsonSize;

namespace {

std::string lower_extension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

}  // namespace

void import_scene_file(VitrelContext* ctx, const std::string& path, const SceneImportOptions& options,
                       ImportReport& report) {
    const std::string ext = lower_extension(path);
    if (ext == ".json") {
        std::vector<uint8_t> bytes;
        std::string reason;
        if (!read_file_bytes(path, bytes, reason)) import_fail(path, reason);
        import_json_scene(ctx, std::string(bytes.begin(), bytes.end()), path, report);
    } else if (ext == ".gltf" || ext == ".glb") {
        GltfOptions o;
        o.camera_index = options.camera_index;
        o.missing_textures_fatal = options.missing_textures_fatal;
        import_gltf_file(ctx, path, o, report);
    } else if (ext == ".obj") {
        ObjOptions o;
        o.missing_textures_fatal = options.missing_textures_fatal;
        import_obj_file(ctx, path, o, report);
    } else if (ext == ".vsb") {
        import_vsb_file(ctx, path, report);
    } else {
        import_fail(path, "unknown scene format '" + ext + "' (expected .json, .gltf, .glb, .obj or .vsb)");
    }
    if (options.camera_index >= 0 && ext != ".gltf" && ext != ".glb") {
        report.warn("--camera-index applies to glTF files only");
    }
}

std::string builtin_scene_text() { return std::string(kCornellBoxJson, kCornellBoxJsonSize); }

void import_builtin_scene(VitrelContext* ctx, ImportReport& report) {
    import_json_scene(ctx, builtin_scene_text(), kBuiltinSceneName, report);
}
