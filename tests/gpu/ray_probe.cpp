#include "ray_probe.h"

#include "gpu/shader_compiler.h"
#include "gpu/vk_check.h"
#include "gpu_test_support.h"
#include "shaders/gpu_layout.h"

namespace {
constexpr uint32_t kRayBinding = 1;
constexpr uint32_t kHitBinding = 2;
}  // namespace

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
    VkWriteDescriptorSet tlasWrite{};
    tlasWrite.sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
    tlasWrite.pNext = &asWrite;
    tlasWrite.dstSet = set;
    tlasWrite.dstBinding = BINDING_TLAS;
    tlasWrite.descriptorCount = 1;
    tlasWrite.descriptorType = VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR;
    vkUpdateDescriptorSets(r_.device, 1, &tlasWrite, 0, nullptr);
    program_.writeBuffer(set, kRayBinding, rayBuffer.buffer);
    program_.writeBuffer(set, kHitBinding, hitBuffer.buffer);

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
