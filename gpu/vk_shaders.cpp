// Shader modules: GLSL compiled at run time (with the generated material unit
// served from virtualIncludes) and SPIR-V files or words.
#include <stdexcept>

#include "gpu/shader_compiler.h"
#include "gpu/vk_check.h"
#include "gpu/vk_renderer.h"

VkShaderModule VkRenderer::compileGlslToSpirv(const std::string& source,
                                              const std::string& fileName, int kind,
                                              const std::string& includeDir,
                                              const std::vector<std::string>& macros) {
    const std::vector<uint32_t> words =
        compile_glsl_words(source, fileName, kind, includeDir, macros, &virtualIncludes);
    return loadShaderModule(words.data(), words.size() * sizeof(uint32_t));
}

namespace {

constexpr uint32_t kSpirvMagic = 0x07230203u;

// Drivers are not required to survive malformed code, so words that cannot
// be a SPIR-V module (empty, a partial word, no magic number) are refused
// before they reach Vulkan.
bool looks_like_spirv(const uint32_t* code, size_t size) {
    return size >= sizeof(uint32_t) && size % sizeof(uint32_t) == 0 && code[0] == kSpirvMagic;
}

std::string not_spirv_text(size_t size) {
    return "Not a SPIR-V module (" + std::to_string(size) + " bytes)";
}

}  // namespace

VkShaderModule VkRenderer::loadShaderModule(const std::string& path) {
    size_t sizeBytes = 0;
    const std::vector<uint32_t> words = read_spirv_words(path, sizeBytes);
    if (!looks_like_spirv(words.data(), sizeBytes))
        throw std::runtime_error(not_spirv_text(sizeBytes) + ": " + path);
    return loadShaderModule(words.data(), sizeBytes);
}

VkShaderModule VkRenderer::loadShaderModule(const uint32_t* code, size_t size) {
    if (!code || !looks_like_spirv(code, size)) throw std::runtime_error(not_spirv_text(size));
    VkShaderModuleCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO;
    info.codeSize = size;
    info.pCode = code;
    VkShaderModule module = VK_NULL_HANDLE;
    VK_CHECK(vkCreateShaderModule(device, &info, nullptr, &module));
    return module;
}
