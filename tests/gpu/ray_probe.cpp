#include "ray_probe.h"

#include <shaderc/shaderc.h>

#include <stdexcept>

#include "gpu/shader_compiler.h"
#include "gpu/vk_check.h"
#include "gpu_test_support.h"
#include "shaders/gpu_layout.h"

namespace {
constexpr uint32_t kRayBinding = 1;
constexpr uint32_t kHitBinding = 2;
}  // namespace

ComputeProgram::ComputeProgram(VkRenderer& renderer,
                               const std::vector<std::pair<uint32_t, VkDescriptorType>>& bindings,
                               const std::string& source, const std::string& name,
                               const std::string& includeDir)
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
    VK_CHECK(vkCreatePipelineLayout(r.device, &layoutInfo, nullptr, &layout));

    VkShaderModule module = r.compileGlslToSpirv(source, name, shaderc_compute_shader, includeDir, {});
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

RayProbe::RayProbe(VkRenderer& renderer)
    : r_(renderer),
      program_(renderer,
               {{BINDING_TLAS, VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR},
                {kRayBinding, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER},
                {kHitBinding, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER}},
               read_shader_source(source_dir() + "/tests/gpu/shaders/ray_probe.comp"), "ray_probe.comp",
               source_dir() + "/shaders") {}

std::vector<ProbeHit> RayProbe::trace(const std::vector<ProbeRay>& rays) {
    std::vector<float> packed;
    for (const ProbeRay& ray : rays) {
        packed.insert(packed.end(), {ray.origin[0], ray.origin[1], ray.origin[2], 0.0f});
        packed.insert(packed.end(), {ray.direction[0], ray.direction[1], ray.direction[2], 0.0f});
    }
    AllocatedBuffer rayBuffer = r_.createDeviceBuffer(packed.size() * 4,
                                                      VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    r_.uploadBuffer(rayBuffer, packed.data(), packed.size() * 4);
    AllocatedBuffer hitBuffer = r_.createDeviceBuffer(
        rays.size() * sizeof(ProbeHit),
        VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT);

    const VkDescriptorSet set = program_.allocateSet();

    VkWriteDescriptorSetAccelerationStructureKHR asWrite{};
    asWrite.sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET_ACCELERATION_STRUCTURE_KHR;
    asWrite.accelerationStructureCount = 1;
    asWrite.pAccelerationStructures = &r_.tlas;
    const VkDescriptorBufferInfo rayInfo{rayBuffer.buffer, 0, rayBuffer.size};
    const VkDescriptorBufferInfo hitInfo{hitBuffer.buffer, 0, hitBuffer.size};
    VkWriteDescriptorSet writes[3] = {};
    for (VkWriteDescriptorSet& w : writes) {
        w.sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
        w.dstSet = set;
        w.descriptorCount = 1;
        w.descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
    }
    writes[0].pNext = &asWrite;
    writes[0].dstBinding = BINDING_TLAS;
    writes[0].descriptorType = VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR;
    writes[1].dstBinding = kRayBinding;
    writes[1].pBufferInfo = &rayInfo;
    writes[2].dstBinding = kHitBinding;
    writes[2].pBufferInfo = &hitInfo;
    vkUpdateDescriptorSets(r_.device, 3, writes, 0, nullptr);

    VkCommandBuffer cmd = r_.beginSingleTimeCommands();
    VkMemoryBarrier toShader{};
    toShader.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER;
    toShader.srcAccessMask =
        VK_ACCESS_TRANSFER_WRITE_BIT | VK_ACCESS_ACCELERATION_STRUCTURE_WRITE_BIT_KHR;
    toShader.dstAccessMask =
        VK_ACCESS_SHADER_READ_BIT | VK_ACCESS_ACCELERATION_STRUCTURE_READ_BIT_KHR;
    vkCmdPipelineBarrier(cmd,
                         VK_PIPELINE_STAGE_TRANSFER_BIT |
                             VK_PIPELINE_STAGE_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                         VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, 0, 1, &toShader, 0, nullptr, 0,
                         nullptr);
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, program_.pipeline);
    vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, program_.layout, 0, 1, &set, 0,
                            nullptr);
    vkCmdDispatch(cmd, static_cast<uint32_t>(rays.size()), 1, 1);
    VkMemoryBarrier toTransfer{};
    toTransfer.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER;
    toTransfer.srcAccessMask = VK_ACCESS_SHADER_WRITE_BIT;
    toTransfer.dstAccessMask = VK_ACCESS_TRANSFER_READ_BIT;
    vkCmdPipelineBarrier(cmd, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT, VK_PIPELINE_STAGE_TRANSFER_BIT,
                         0, 1, &toTransfer, 0, nullptr, 0, nullptr);
    r_.endSingleTimeCommands(cmd);

    std::vector<ProbeHit> hits(rays.size());
    r_.downloadBuffer(hitBuffer, hits.data(), hits.size() * sizeof(ProbeHit));
    vkFreeDescriptorSets(r_.device, program_.pool, 1, &set);
    r_.destroyBuffer(rayBuffer);
    r_.destroyBuffer(hitBuffer);
    return hits;
}
