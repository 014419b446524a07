// Run-time GLSL compilation, include resolution and SPIR-V loading.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shaderc/shaderc.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "gpu/shader_compiler.h"
#include "gpu_test_support.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kComputeHeader = "#version 460\nlayout(local_size_x = 1) in;\n";

class ShaderTest : public GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        char pattern[] = "/tmp/vitrel_shader_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        fs::remove_all(dir);
        GpuTest::TearDown();
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }
    // Compiles a compute shader and releases the module; returns the error
    // text, empty on success.
    std::string compile(const std::string& body, const std::vector<std::string>& macros = {}) {
        try {
            VkShaderModule m = renderer->compileGlslToSpirv(
                kComputeHeader + body, "probe.comp", shaderc_compute_shader, dir, macros);
            EXPECT_NE(m, VK_NULL_HANDLE);
            vkDestroyShaderModule(renderer->device, m, nullptr);
            return "";
        } catch (const std::runtime_error& e) {
            return e.what();
        }
    }
    std::string dir;
};

// Compilation outcomes: "" means the body compiles; otherwise the error
// names the file and carries the given text.
TEST_F(ShaderTest, CompilesResolvesIncludesAndMacrosAndReportsErrors) {
    const std::string include = "#extension GL_GOOGLE_include_directive : require\n";
    const std::string macroBody =
        "#if !defined(HAS_MESH) || !defined(HAS_FLOAT_ATOMICS)\n#error macro missing\n#endif\n"
        "layout(std430, binding = 0) buffer B { int v[]; };\n"
        "void main() { v[0] = 1 HAS_MESH HAS_FLOAT_ATOMICS; }\n";
    const struct {
        const char* what;
        std::string body;
        std::vector<std::string> macros;
        std::string error;
    } cases[] = {
        {"plain compute shader",
         "layout(std430, binding = 0) buffer B { uint v[]; };\n"
         "void main() { v[gl_GlobalInvocationID.x] = 1u; }\n",
         {}, ""},
        // The file on disk of the same name holds an #error.
        {"virtual include wins over a file",
         include + "#include \"material_eval.glsl\"\n"
                   "layout(std430, binding = 0) buffer B { float v[]; };\n"
                   "void main() { v[0] = eval_albedo(); }\n",
         {}, ""},
        {"includes from the directory, also inside includes",
         include + "#include \"outer.glsl\"\n"
                   "layout(std430, binding = 0) buffer B { float v[]; };\n"
                   "void main() { v[0] = outer(); }\n",
         {}, ""},
        {"missing include", include + "#include \"not_there.glsl\"\nvoid main() {}\n", {},
         "Cannot find include: not_there.glsl"},
        {"syntax error", "void main() { this is not glsl; }\n", {}, "error"},
        // Compiles only when both names are defined and expand to nothing.
        {"macros defined empty", macroBody, {"HAS_MESH", "HAS_FLOAT_ATOMICS"}, ""},
        {"a macro left out", macroBody, {"HAS_MESH"}, "macro missing"},
    };
    write("material_eval.glsl", "#error the file on disk was used\n");
    renderer->virtualIncludes["material_eval.glsl"] = "float eval_albedo() { return 0.5; }\n";
    write("outer.glsl", "#include \"inner.glsl\"\nfloat outer() { return inner() * 2.0; }\n");
    write("inner.glsl", "float inner() { return 0.25; }\n");
    const std::string prefix = "Shader compilation failed for probe.comp:\n";
    for (const auto& c : cases) {
        const std::string error = compile(c.body, c.macros);
        if (c.error.empty()) {
            EXPECT_EQ(error, "") << c.what;
            continue;
        }
        EXPECT_THAT(error, StartsWith(prefix)) << c.what;
        EXPECT_THAT(error.substr(std::min(error.size(), prefix.size())), HasSubstr(c.error))
            << c.what;
    }
}

TEST_F(ShaderTest, SharedLayoutHeaderCompilesAsGlsl) {
    const std::string shaders = source_dir() + "/shaders";
    VkShaderModule m = renderer->compileGlslToSpirv(
        std::string(kComputeHeader) +
            "#extension GL_GOOGLE_include_directive : require\n"
            "#include \"gpu_layout.h\"\n"
            "layout(push_constant) uniform Push { PushBlock pc; };\n"
            "layout(std430, binding = BINDING_INSTANCE_INFO) buffer I { GpuInstance inst[]; };\n"
            "layout(std430, binding = BINDING_EMISSIVES) buffer E { GpuEmissive em[]; };\n"
            "layout(std430, binding = BINDING_ENV_CDF) buffer V { GpuEnvHeader env; uint w[]; };\n"
            "layout(std430, binding = BINDING_MATERIALS) buffer M { GpuMaterial mat[]; };\n"
            "layout(std430, binding = BINDING_ATLAS_ENTRIES) buffer A { AtlasEntry atl[]; };\n"
            "void main() { inst[0].uv_offset = NO_ATTRIBUTE + pc.width + uint(em[0].area)"
            " + uint(env.width) + uint(mat[0].alpha) + atl[0].flags; }\n",
        "layout.comp", shaderc_compute_shader, shaders, {});
    EXPECT_NE(m, VK_NULL_HANDLE);
    vkDestroyShaderModule(renderer->device, m, nullptr);
}

// SPIR-V loads from a file and from words; a missing file is named, and
// files that cannot be SPIR-V are refused by name before Vulkan sees them.
TEST_F(ShaderTest, LoadsSpirvAndRefusesWhatCannotBeSpirvByName) {
    const std::vector<uint32_t> words = compile_glsl_words(
        std::string(kComputeHeader) + "void main() {}\n", "empty.comp", shaderc_compute_shader, dir, {}, nullptr);
    write("empty.comp.spv", std::string(reinterpret_cast<const char*>(words.data()), words.size() * 4));
    for (VkShaderModule m :
         {renderer->loadShaderModule(dir + "/empty.comp.spv"), renderer->loadShaderModule(words.data(), words.size() * 4)}) {
        EXPECT_NE(m, VK_NULL_HANDLE);
        vkDestroyShaderModule(renderer->device, m, nullptr);
    }
    const std::string absent = dir + "/absent.rgen.spv";
    try {
        renderer->loadShaderModule(absent);
        ADD_FAILURE() << "loaded a missing file";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open shader: " + absent);
    }
    write("odd.spv", std::string("\x03\x02\x23\x07\x00", 5));
    write("empty.spv", "");
    write("text.spv", "not spir-v at all");
    for (const char* name : {"odd.spv", "empty.spv", "text.spv"}) {
        try {
            renderer->loadShaderModule(dir + "/" + name);
            ADD_FAILURE() << name << " was accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_THAT(e.what(), HasSubstr("Not a SPIR-V module"));
            EXPECT_THAT(e.what(), HasSubstr(dir + "/" + name));
        }
    }
    const uint32_t zero = 0;
    EXPECT_THROW(renderer->loadShaderModule(&zero, 4), std::runtime_error);
}

}  // namespace
