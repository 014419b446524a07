// A camera that shows all of the imported geometry, for files without one.
#pragma once

#include "cli/import_report.h"

// Looks at the centre of the bounds from the +Z side and slightly above
// (glTF cameras look down -Z), far enough back that the bounding sphere
// fits the narrower of the two fields of view for an image of `aspect`
// (width / height).
CameraPose framing_camera(const ImportReport& report, float fov_deg, float aspect);
