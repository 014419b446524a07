// Choosing the importer for a scene file, and the built-in demo scene.
#pragma once

#include <string>

#include "api/vitrel_api.h"
#include "cli/import_report.h"

struct SceneImportOptions {
    int camera_index = -1;               // glTF camera; -1 for none
    bool missing_textures_fatal = true;  // false: unreadable textures are warnings
};

// The name the built-in scene goes by in messages.
inline constexpr const char* kBuiltinSceneName = "<built-in Cornell box>";

// Imports `path` by its extension: .json, .gltf, .glb, .obj or .vsb (any
// case). Throws ImportError for an unknown extension or a failed import.
void import_scene_file(VitrelContext* ctx, const std::string& path, const SceneImportOptions& options,
                       ImportReport& report);

// Imports the Cornell box compiled into the program.
void import_builtin_scene(VitrelContext* ctx, ImportReport& report);

// The built-in scene's JSON text.
std::string builtin_scene_text();
