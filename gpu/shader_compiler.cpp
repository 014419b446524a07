#include "gpu/shader_compiler.h"

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace {

// A result owns its two strings until shaderc hands it back.
struct OwnedInclude {
    shaderc_include_result result{};
    std::string name;
    std::string content;
};

bool read_file_text(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

}  // namespace

FileIncluder::FileIncluder(std::string includeDir,
                           const std::unordered_map<std::string, std::string>* virtualFiles)
    : includeDir_(std::move(includeDir)), virtualFiles_(virtualFiles) {}

FileIncluder::~FileIncluder() = default;

shaderc_include_result* FileIncluder::GetInclude(const char* requestedSource,
                                                 shaderc_include_type /*type*/,
                                                 const char* /*requestingSource*/,
                                                 size_t /*depth*/) {
    auto inc = std::make_unique<OwnedInclude>();
    const std::string requested = requestedSource ? requestedSource : "";
    bool found = false;
    if (virtualFiles_) {
        auto it = virtualFiles_->find(requested);
        if (it != virtualFiles_->end()) {
            inc->name = requested;
            inc->content = it->second;
            found = true;
        }
    }
    if (!found) {
        const std::string path = includeDir_ + "/" + requested;
        if (read_file_text(path, inc->content)) {
            inc->name = path;
        } else {
            // An empty source name tells shaderc the include failed; the
            // content becomes its error message.
            inc->name.clear();
            inc->content = "Cannot find include: " + requested;
        }
    }
    inc->result.source_name = inc->name.c_str();
    inc->result.source_name_length = inc->name.size();
    inc->result.content = inc->content.c_str();
    inc->result.content_length = inc->content.size();
    inc->result.user_data = inc.get();
    return &inc.release()->result;
}

void FileIncluder::ReleaseInclude(shaderc_include_result* result) {
    if (result) delete static_cast<OwnedInclude*>(result->user_data);
}

std::vector<uint32_t> compile_glsl_words(
    const std::string& source, const std::string& fileName, int kind,
    const std::string& includeDir, const std::vector<std::string>& macros,
    const std::unordered_map<std::string, std::string>* virtualFiles) {
    shaderc::Compiler compiler;
    shaderc::CompileOptions options;
    options.SetTargetEnvironment(shaderc_target_env_vulkan, shaderc_env_version_vulkan_1_2);
    options.SetIncluder(std::make_unique<FileIncluder>(includeDir, virtualFiles));
    for (const std::string& m : macros) options.AddMacroDefinition(m);

    shaderc::SpvCompilationResult result = compiler.CompileGlslToSpv(
        source, static_cast<shaderc_shader_kind>(kind), fileName.c_str(), "main", options);
    if (result.GetCompilationStatus() != shaderc_compilation_status_success) {
        throw std::runtime_error("Shader compilation failed for " + fileName + ":\n" +
                                 result.GetErrorMessage());
    }
    return std::vector<uint32_t>(result.cbegin(), result.cend());
}

std::string read_shader_source(const std::string& path) {
    std::string text;
    if (!read_file_text(path, text)) throw std::runtime_error("Cannot open shader source: " + path);
    return text;
}

namespace {

constexpr uint32_t kSpirvMagic = 0x07230203u;

}  // namespace

bool looks_like_spirv(const uint32_t* code, size_t sizeBytes) {
    return sizeBytes >= sizeof(uint32_t) && sizeBytes % sizeof(uint32_t) == 0 && code[0] == kSpirvMagic;
}

std::string not_spirv_text(size_t sizeBytes) {
    return "Not a SPIR-V module (" + std::to_string(sizeBytes) + " bytes)";
}

std::vector<uint32_t> read_spirv_module(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("Cannot open shader: " + path);
    const std::streamoff size = in.tellg();
    const size_t sizeBytes = size > 0 ? static_cast<size_t>(size) : 0;
    in.seekg(0);
    std::vector<uint32_t> words((sizeBytes + 3) / 4, 0u);
    if (sizeBytes > 0) in.read(reinterpret_cast<char*>(words.data()), static_cast<std::streamsize>(sizeBytes));
    if (!looks_like_spirv(words.data(), sizeBytes))
        throw std::runtime_error(not_spirv_text(sizeBytes) + ": " + path);
    return words;
}
