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

RayProbe::RayProbe(VkRenderer& renderer) : r_(renderer) {
    const VkDescriptorSetLayoutBinding bindings[] = {
        {BINDING_TLAS, VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR, 1,
         VK_SHADER_STAGE_COMPUTE_BIT, nullptr},
        {kRayBinding, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr},
        {kHitBinding, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT, nullptr}};
    VkDescriptorSetLayoutCreateInfo setInfo{};
    setInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO;
    setInfo.bindingCount = 3;
    setInfo.pBindings = bindings;
    VK_CHECK(vkCreateDescriptorSetLayout(r_.device, &setInfo, nullptr, &setLayout_));
    VkPipelineLayoutCreateInfo layoutInfo{};
    layoutInfo.sType = VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO;
    layoutInfo.setLayoutCount = 1;
    layoutInfo.pSetLayouts = &setLayout_;
    VK_CHECK(vkCreatePipelineLayout(r_.device, &layoutInfo, nullptr, &pipelineLayout_));

    const std::string source =
        read_shader_source(source_dir() + "/tests/gpu/shaders/ray_probe.comp");
    VkShaderModule module = r_.compileGlslToSpirv(source, "ray_probe.comp", shaderc_compute_shader,
                                                  source_dir() + "/shaders", {});
    VkComputePipelineCreateInfo pipelineInfo{};
    pipelineInfo.sType = VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO;
    pipelineInfo.stage.sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
    pipelineInfo.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
    pipelineInfo.stage.module = module;
    pipelineInfo.stage.pName = "main";
    pipelineInfo.layout = pipelineLayout_;
    const VkResult created = vkCreateComputePipelines(r_.device, VK_NULL_HANDLE, 1, &pipelineInfo,
                                                      nullptr, &pipeline_);
    vkDestroyShaderModule(r_.device, module, nullptr);
    VK_CHECK(created);

    const VkDescriptorPoolSize sizes[] = {{VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR, 1},
                                          {VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 2}};
    VkDescriptorPoolCreateInfo poolInfo{};
    poolInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO;
    poolInfo.flags = VK_DESCRIPTOR_POOL_CREATE_FREE_DESCRIPTOR_SET_BIT;
    poolInfo.maxSets = 1;
    poolInfo.poolSizeCount = 2;
    poolInfo.pPoolSizes = sizes;
    VK_CHECK(vkCreateDescriptorPool(r_.device, &poolInfo, nullptr, &pool_));
}

RayProbe::~RayProbe() {
    if (pool_) vkDestroyDescriptorPool(r_.device, pool_, nullptr);
    if (pipeline_) vkDestroyPipeline(r_.device, pipeline_, nullptr);
    if (pipelineLayout_) vkDestroyPipelineLayout(r_.device, pipelineLayout_, nullptr);
    if (setLayout_) vkDestroyDescriptorSetLayout(r_.device, setLayout_, nullptr);
}

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

    VkDescriptorSetAllocateInfo allocInfo{};
    allocInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
    allocInfo.descriptorPool = pool_;
    allocInfo.descriptorSetCount = 1;
    allocInfo.pSetLayouts = &setLayout_;
    VkDescriptorSet set = VK_NULL_HANDLE;
    VK_CHECK(vkAllocateDescriptorSets(r_.device, &allocInfo, &set));

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
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, pipeline_);
    vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, pipelineLayout_, 0, 1, &set, 0,
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
    vkFreeDescriptorSets(r_.device, pool_, 1, &set);
    r_.destroyBuffer(rayBuffer);
    r_.destroyBuffer(hitBuffer);
    return hits;
}
