// The material features a scene's path programs are built with: the value
// of their PROGRAM_FEATURES_CONSTANT_ID specialization constant.
#pragma once

#include <cstdint>
#include <vector>

#include "codegen/expr_ir.h"
#include "scene/scene.h"

// PROGRAM_FEATURE_* bits (shaders/gpu_layout.h) of every feature that some
// material of `scene` can reach in the shaders: a superset, so that leaving
// the others out of the program changes no image. A value that is not
// exactly 0 (including NaN) counts as used. `materialExprs` may be null; a
// metallic expression graph makes the metal lobe reachable.
uint32_t program_features(const Scene& scene, const std::vector<MaterialExprData>* materialExprs);
