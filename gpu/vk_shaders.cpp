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

VkShaderModule VkRenderer::loadShaderModule(const std::string& path) {
    const std::vector<uint32_t> words = read_spirv_module(path);
    return loadShaderModule(words.data(), words.size() * sizeof(uint32_t));
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
