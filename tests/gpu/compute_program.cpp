#include "compute_program.h"

#include <shaderc/shaderc.h>

#include "gpu/vk_check.h"

ComputeProgram::ComputeProgram(VkRenderer& renderer,
                               const std::vector<std::pair<uint32_t, VkDescriptorType>>& bindings,
                               const std::string& source, const std::string& name,
                               const std::string& includeDir, const std::vector<std::string>& macros,
                               uint32_t pushBytes)
    : r(renderer) {
    std::vector<VkDescriptorSetLayoutBinding> layoutBindings;
    std::vector<VkDescriptorPoolSize> sizes;
    for (const auto& [binding, type] : bindings) {
        layoutBindings.push_back({binding, type, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr});
        sizes.push_back({type, 1});
    }
    VkDescriptorSetLayoutCreateInfo setInfo{};
    setInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO;
    setInfo.bindingCount = static_cast<uint32_t>(layoutBindings.size());
    setInfo.pBindings = layoutBindings.data();
    VK_CHECK(vkCreateDescriptorSetLayout(r.device, &setInfo, nullptr, &setLayout));
    VkPipelineLayoutCreateInfo layoutInfo{};
    layoutInfo.sType = VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO;
    layoutInfo.setLayoutCount = 1;
    layoutInfo.pSetLayouts = &setLayout;
    const VkPushConstantRange push{VK_SHADER_STAGE_COMPUTE_BIT, 0, pushBytes};
    layoutInfo.pushConstantRangeCount = pushBytes ? 1 : 0;
    layoutInfo.pPushConstantRanges = &push;
    VK_CHECK(vkCreatePipelineLayout(r.device, &layoutInfo, nullptr, &layout));

    VkShaderModule module = r.compileGlslToSpirv(source, name, shaderc_compute_shader, includeDir, macros);
    VkComputePipelineCreateInfo pipelineInfo{};
    pipelineInfo.sType = VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO;
    pipelineInfo.stage.sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
    pipelineInfo.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
    pipelineInfo.stage.module = module;
    pipelineInfo.stage.pName = "main";
    pipelineInfo.layout = layout;
    const VkResult created = vkCreateComputePipelines(r.device, VK_NULL_HANDLE, 1, &pipelineInfo, nullptr, &pipeline);
    vkDestroyShaderModule(r.device, module, nullptr);
    VK_CHECK(created);

    VkDescriptorPoolCreateInfo poolInfo{};
    poolInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO;
    poolInfo.flags = VK_DESCRIPTOR_POOL_CREATE_FREE_DESCRIPTOR_SET_BIT;
    poolInfo.maxSets = 1;
    poolInfo.poolSizeCount = static_cast<uint32_t>(sizes.size());
    poolInfo.pPoolSizes = sizes.data();
    VK_CHECK(vkCreateDescriptorPool(r.device, &poolInfo, nullptr, &pool));
}

ComputeProgram::~ComputeProgram() {
    if (pool) vkDestroyDescriptorPool(r.device, pool, nullptr);
    if (pipeline) vkDestroyPipeline(r.device, pipeline, nullptr);
    if (layout) vkDestroyPipelineLayout(r.device, layout, nullptr);
    if (setLayout) vkDestroyDescriptorSetLayout(r.device, setLayout, nullptr);
}

VkDescriptorSet ComputeProgram::allocateSet() {
    VkDescriptorSetAllocateInfo allocInfo{};
    allocInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
    allocInfo.descriptorPool = pool;
    allocInfo.descriptorSetCount = 1;
    allocInfo.pSetLayouts = &setLayout;
    VkDescriptorSet set = VK_NULL_HANDLE;
    VK_CHECK(vkAllocateDescriptorSets(r.device, &allocInfo, &set));
    return set;
}

void ComputeProgram::writeBuffer(VkDescriptorSet set, uint32_t binding, VkBuffer buffer) {
    const VkDescriptorBufferInfo info{buffer, 0, VK_WHOLE_SIZE};
    VkWriteDescriptorSet write{};
    write.sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
    write.dstSet = set;
    write.dstBinding = binding;
    write.descriptorCount = 1;
    write.descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
    write.pBufferInfo = &info;
    vkUpdateDescriptorSets(r.device, 1, &write, 0, nullptr);
}
