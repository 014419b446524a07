// Wavefront OBJ with MTL materials to vitrel_* calls: one object per OBJ
// object or group, MTL colours, PBR extension keys and texture maps (the
// mapping is tabled in README.md, "OBJ/MTL mapping").
#pragma once

#include <string>

#include "api/vitrel_api.h"
#include "cli/import_report.h"

struct ObjOptions {
    bool allow_files = true;             // false: textures are not read (fuzzing)
    bool missing_textures_fatal = true;  // false: an unreadable texture is a warning
};

// Imports the OBJ file at `path`; its MTL files and textures are looked up
// beside it. Throws ImportError naming the file and the reason.
void import_obj_file(VitrelContext* ctx, const std::string& path, const ObjOptions& options,
                     ImportReport& report);

// Imports OBJ text with the MTL text its "mtllib" lines refer to (any name
// reads `mtl_text`). Texture paths are relative to `base_dir`.
void import_obj_text(VitrelContext* ctx, const std::string& obj_text, const std::string& mtl_text,
                     const std::string& base_dir, const std::string& name, const ObjOptions& options,
                     ImportReport& report);
