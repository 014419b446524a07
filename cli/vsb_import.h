// Scene cache files (.vsb, written by --save-cache or vitrel_save_scene)
// back into vitrel_* calls, through the library's exported load_vsb.
#pragma once

#include <string>

#include "api/vitrel_api.h"
#include "cli/import_report.h"

// Rebuilds the cached scene in the context: textures (from the cached
// atlas), materials, meshes, instances, camera, environment and camera
// animation. Material expression graphs and the environment rotation are not
// cached. Throws ImportError for a file that is missing or not a usable
// cache.
void import_vsb_file(VitrelContext* ctx, const std::string& path, ImportReport& report);
