// Run-time GLSL compilation with shaderc. The renderer turns the words into
// shader modules; this part knows nothing about Vulkan devices.
#pragma once

#include <shaderc/shaderc.hpp>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// Resolves #include for shaderc: names held in the virtual-file map first
// (the generated "material_eval.glsl" never touches the disk), then files in
// one include directory. Include type, requesting file and depth are ignored.
class FileIncluder : public shaderc::CompileOptions::IncluderInterface {
public:
    FileIncluder(std::string includeDir,
                 const std::unordered_map<std::string, std::string>* virtualFiles);
    ~FileIncluder() override;

    shaderc_include_result* GetInclude(const char* requestedSource, shaderc_include_type type,
                                       const char* requestingSource, size_t depth) override;
    void ReleaseInclude(shaderc_include_result* result) override;

private:
    std::string includeDir_;
    const std::unordered_map<std::string, std::string>* virtualFiles_;
};

// Compiles GLSL to SPIR-V words for Vulkan 1.2. `kind` is a shaderc shader
// kind; every macro is defined without a value. Throws std::runtime_error
// "Shader compilation failed for <fileName>:\n<shaderc message>".
std::vector<uint32_t> compile_glsl_words(
    const std::string& source, const std::string& fileName, int kind,
    const std::string& includeDir, const std::vector<std::string>& macros,
    const std::unordered_map<std::string, std::string>* virtualFiles);

// Reads a whole text file; throws "Cannot open shader source: <path>".
std::string read_shader_source(const std::string& path);

// Drivers are not required to survive malformed code, so words that cannot
// be a SPIR-V module (empty, a partial word, no magic number) are refused
// before they reach Vulkan.
bool looks_like_spirv(const uint32_t* code, size_t sizeBytes);
// "Not a SPIR-V module (<sizeBytes> bytes)".
std::string not_spirv_text(size_t sizeBytes);

// Reads a SPIR-V module file as 32-bit words. Throws "Cannot open shader:
// <path>", or not_spirv_text + ": <path>" when the bytes cannot be a module.
std::vector<uint32_t> read_spirv_module(const std::string& path);
