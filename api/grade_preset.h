// Colour-grading presets: exposure followed by the five grading values.
#pragma once

#include <array>
#include <string>

#include "scene/vitrel_export.h"

using GradeRow = std::array<float, 6>;

// Exact (case- and length-sensitive) names "punchy", "filmic" and
// "bleach_bypass"; every other name gives the neutral row.
VITREL_EXPORT GradeRow grade_preset(const std::string& name);
