// shaderc and glslang are linked statically into the library; this proves
// the combination compiles real GLSL to SPIR-V inside our process.
#include <gtest/gtest.h>

#include <stdexcept>

#include "gpu/shader_compiler.h"

namespace {
constexpr uint32_t kSpirvMagic = 0x07230203u;
constexpr int kComputeKind = 2;  // shaderc_compute_shader
}  // namespace

TEST(ShaderCompiler, CompilesComputeShaderToSpirv) {
    const std::string src = R"(#version 460
layout(local_size_x = 64) in;
layout(std430, set = 0, binding = 0) buffer Data { float v[]; };
void main() {
#ifdef HAS_SCALE
    v[gl_GlobalInvocationID.x] *= 2.0;
#else
    v[gl_GlobalInvocationID.x] = undefined_without_macro;
#endif
}
)";
    const std::vector<uint32_t> words =
        compile_glsl_words(src, "scale.comp", kComputeKind, "/nonexistent", {"HAS_SCALE"}, nullptr);
    ASSERT_GT(words.size(), 5u);
    EXPECT_EQ(words[0], kSpirvMagic);
    try {
        compile_glsl_words(src, "scale.comp", kComputeKind, "/nonexistent", {}, nullptr);
        FAIL() << "compiled without the macro";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Shader compilation failed for scale.comp:\n", 0), 0u)
            << e.what();
    }
}
