// Names of the shader program files. Each path is a shader directory string
// followed by one of these names; hosts that ship their own programs must
// keep them.
#pragma once

namespace shader_files {

// SPIR-V, in the compiled shader directory.
inline constexpr const char* kEyePathRgen = "/eye_path.rgen.spv";
inline constexpr const char* kEyePathRchit = "/eye_path.rchit.spv";
inline constexpr const char* kEyePathRmiss = "/eye_path.rmiss.spv";
inline constexpr const char* kShadowRmiss = "/shadow.rmiss.spv";
inline constexpr const char* kEyePathRgenMotion = "/eye_path.rgen.motion.spv";
inline constexpr const char* kEyePathRchitMotion = "/eye_path.rchit.motion.spv";
inline constexpr const char* kEyePathRmissMotion = "/eye_path.rmiss.motion.spv";
inline constexpr const char* kShadowRmissMotion = "/shadow.rmiss.motion.spv";
inline constexpr const char* kDownsample = "/downsample.comp.spv";
inline constexpr const char* kQuantize = "/quantize.comp.spv";
inline constexpr const char* kAov = "/aov.comp.spv";
// The eye paths' compute form (VkRenderer::computeEyePaths).
inline constexpr const char* kEyePathComp = "/eye_path.comp.spv";
// filter, postprocess and light_path exist with and without float atomics;
// light_path also in a motion form.
inline constexpr const char* kFilterBase = "/filter.comp";
inline constexpr const char* kPostprocessBase = "/postprocess.comp";
inline constexpr const char* kLightPathBase = "/light_path.comp";
inline constexpr const char* kFloatAtomicsSuffix = ".spv";
inline constexpr const char* kNoFloatAtomicsSuffix = ".nofloat.spv";
inline constexpr const char* kMotionFloatAtomicsSuffix = ".motion.spv";
inline constexpr const char* kMotionNoFloatAtomicsSuffix = ".motion.nofloat.spv";

// GLSL sources compiled at run time, in the shader source directory.
inline constexpr const char* kEyePathRgenSource = "/eye_path.rgen";
inline constexpr const char* kLightPathSource = "/light_path.comp";
inline constexpr const char* kEyePathCompSource = "/eye_path.comp";

// The generated material unit, served to the compiler from memory.
inline constexpr const char* kMaterialEvalInclude = "material_eval.glsl";

// Macros the run-time compiled sources see.
inline constexpr const char* kMacroHasMesh = "HAS_MESH";
inline constexpr const char* kMacroHasFloatAtomics = "HAS_FLOAT_ATOMICS";
inline constexpr const char* kMacroHasNvMotionBlur = "HAS_NV_MOTION_BLUR";

}  // namespace shader_files
