// The JSON scene format (documented in README.md, "Scene files"): named
// materials, one triangle list with a material name per triangle, optional
// groups that become separate objects, a camera, a uniform background and
// the camera animation block the library's load_scene reads.
#pragma once

#include <string>

#include "api/vitrel_api.h"
#include "cli/import_report.h"

// Adds the scene held in `text` to the context. `file` names the source in
// messages. Throws ImportError for malformed JSON or content that does not
// follow the format (the message names the offending key or element).
void import_json_scene(VitrelContext* ctx, const std::string& text, const std::string& file,
                       ImportReport& report);
