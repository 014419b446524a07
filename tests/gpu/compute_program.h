// Test-only compute programs on a renderer's device, compiled at run time
// with the renderer's own GLSL compiler.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "gpu/vk_renderer.h"

// One compute pipeline over a single descriptor set whose bindings are
// given as (binding, type), and a pool that can hand out that set once at a
// time (sets may be freed); `pushBytes` of push constants when not 0.
struct ComputeProgram {
    ComputeProgram(VkRenderer& renderer, const std::vector<std::pair<uint32_t, VkDescriptorType>>& bindings,
                   const std::string& source, const std::string& name, const std::string& includeDir,
                   const std::vector<std::string>& macros = {}, uint32_t pushBytes = 0);
    ~ComputeProgram();
    ComputeProgram(const ComputeProgram&) = delete;
    ComputeProgram& operator=(const ComputeProgram&) = delete;

    VkDescriptorSet allocateSet();
    // Points storage-buffer `binding` of `set` at the whole of `buffer`.
    void writeBuffer(VkDescriptorSet set, uint32_t binding, VkBuffer buffer);

    VkRenderer& r;
    VkDescriptorSetLayout setLayout = VK_NULL_HANDLE;
    VkPipelineLayout layout = VK_NULL_HANDLE;
    VkPipeline pipeline = VK_NULL_HANDLE;
    VkDescriptorPool pool = VK_NULL_HANDLE;
};
