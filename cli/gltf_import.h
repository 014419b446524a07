// glTF 2.0 (.gltf with embedded or external resources, .glb) to vitrel_*
// calls. The mapping is tabled in README.md ("glTF mapping").
#pragma once

#include <cstdint>
#include <string>

#include "api/vitrel_api.h"
#include "cli/import_report.h"

struct GltfOptions {
    int camera_index = -1;          // glTF camera to use; -1: leave the camera to the caller
    bool allow_files = true;        // false: external buffers and images are refused (fuzzing)
    bool missing_textures_fatal = true;  // false: an unreadable texture is a warning
};

// Imports the .gltf or .glb file at `path`. Throws ImportError naming the
// file (or the texture or buffer file) and the reason.
void import_gltf_file(VitrelContext* ctx, const std::string& path, const GltfOptions& options,
                      ImportReport& report);

// Imports glTF JSON or GLB bytes (told apart by the GLB magic); external
// files are looked up in `base_dir`. `name` names the source in messages.
void import_gltf_bytes(VitrelContext* ctx, const uint8_t* data, size_t size, const std::string& base_dir,
                       const std::string& name, const GltfOptions& options, ImportReport& report);
