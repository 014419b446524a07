// The one descriptor set every program sees (TLAS plus 28 storage buffers,
// the last of them the table of the others' device addresses) and the one
// pipeline layout with its push-constant range.
#include <stdexcept>

#include "gpu/vk_check.h"
#include "gpu/vk_renderer.h"
#include "shaders/gpu_layout.h"

namespace {

constexpr uint32_t kStorageBufferCount = BINDING_COUNT - 1;
constexpr VkDeviceSize kAddressTableBytes = VkDeviceSize{BINDING_COUNT} * ADDRESS_ENTRY_BYTES;
static_assert(sizeof(VkDeviceAddress) == ADDRESS_ENTRY_BYTES);
constexpr VkDeviceSize kFallbackBytes = 16;
const uint8_t kFallbackZeros[kFallbackBytes] = {};

}  // namespace

void VkRenderer::createLayouts() {
    VkDescriptorSetLayoutBinding bindings[BINDING_COUNT]{};
    for (uint32_t b = 0; b < BINDING_COUNT; ++b) {
        bindings[b].binding = b;
        bindings[b].descriptorCount = 1;
        bindings[b].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
        bindings[b].stageFlags = VK_SHADER_STAGE_ALL;
    }
    bindings[BINDING_TLAS].descriptorType = VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR;
    bindings[BINDING_TLAS].stageFlags = VK_SHADER_STAGE_RAYGEN_BIT_KHR |
                                        VK_SHADER_STAGE_CLOSEST_HIT_BIT_KHR |
                                        VK_SHADER_STAGE_COMPUTE_BIT;
    VkDescriptorSetLayoutCreateInfo setInfo{};
    setInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO;
    setInfo.bindingCount = BINDING_COUNT;
    setInfo.pBindings = bindings;
    VK_CHECK(vkCreateDescriptorSetLayout(device, &setInfo, nullptr, &descriptorSetLayout));

    VkPushConstantRange range{};
    range.stageFlags = PUSH_BLOCK_STAGES;
    range.offset = 0;
    range.size = PUSH_BLOCK_SIZE;
    VkPipelineLayoutCreateInfo layoutInfo{};
    layoutInfo.sType = VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO;
    layoutInfo.setLayoutCount = 1;
    layoutInfo.pSetLayouts = &descriptorSetLayout;
    layoutInfo.pushConstantRangeCount = 1;
    layoutInfo.pPushConstantRanges = &range;
    VK_CHECK(vkCreatePipelineLayout(device, &layoutInfo, nullptr, &pipelineLayout));
    computePipelineLayout = pipelineLayout;
}

void VkRenderer::createDescriptors() {
    if (descriptorSetLayout == VK_NULL_HANDLE)
        throw std::runtime_error("No descriptor set layout: createPipelines has not run");
    // A repeated call replaces the pool (and with it the set).
    if (descriptorPool != VK_NULL_HANDLE) vkDestroyDescriptorPool(device, descriptorPool, nullptr);
    descriptorPool = VK_NULL_HANDLE;
    descriptorSet = VK_NULL_HANDLE;

    const VkDescriptorPoolSize sizes[] = {{VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR, 1},
                                          {VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, kStorageBufferCount}};
    VkDescriptorPoolCreateInfo poolInfo{};
    poolInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO;
    poolInfo.maxSets = 1;
    poolInfo.poolSizeCount = 2;
    poolInfo.pPoolSizes = sizes;
    VK_CHECK(vkCreateDescriptorPool(device, &poolInfo, nullptr, &descriptorPool));

    VkDescriptorSetAllocateInfo allocInfo{};
    allocInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
    allocInfo.descriptorPool = descriptorPool;
    allocInfo.descriptorSetCount = 1;
    allocInfo.pSetLayouts = &descriptorSetLayout;
    VK_CHECK(vkAllocateDescriptorSets(device, &allocInfo, &descriptorSet));
}

void VkRenderer::updateDescriptors() {
    if (descriptorSet == VK_NULL_HANDLE)
        throw std::runtime_error("No descriptor set: createDescriptors has not run");
    if (tlas == VK_NULL_HANDLE)
        throw std::runtime_error("No TLAS: buildAccelerationStructures has not run");
    const AllocatedBuffer* buffers[BINDING_COUNT] = {};
    buffers[BINDING_SCENE_PARAMS] = &sceneParamsBuffer;
    buffers[BINDING_MATERIALS] = &materialBuffer;
    buffers[BINDING_INSTANCE_INFO] = &instanceInfoBuffer;
    buffers[BINDING_ESS_LUT] = &essLutBuffer;
    buffers[BINDING_SAMPLES] = &sampleBuffer;
    buffers[BINDING_EYE_ACCUM] = &eyeAccumBuffer;
    buffers[BINDING_LIGHT_ACCUM] = &lightAccumBuffer;
    buffers[BINDING_WORK] = &workBuffer;
    buffers[BINDING_OUTPUT_RGBA8] = &outputRgba8Buffer;
    buffers[BINDING_POSITIONS] = &positionBuffer;
    buffers[BINDING_INDICES] = &indexBuffer;
    buffers[BINDING_FACE_NORMALS] = &faceNormalBuffer;
    buffers[BINDING_FACE_MATERIALS] = &faceMaterialBuffer;
    buffers[BINDING_EMISSIVES] = &emissiveBuffer;
    buffers[BINDING_EMISSIVE_TRI_CDF] = &emissiveTriCdfBuffer;
    buffers[BINDING_NORMALS] = &normalBuffer;
    buffers[BINDING_UVS] = &uvBuffer;
    buffers[BINDING_ATLAS_DATA] = &atlasDataBuffer;
    buffers[BINDING_ATLAS_ENTRIES] = &atlasEntryBuffer;
    buffers[BINDING_SRGB_LUT] = &srgbLutBuffer;
    buffers[BINDING_LIGHT_CDF] = &lightCdfBuffer;
    buffers[BINDING_ENV_CDF] = &envCdfBuffer;
    buffers[BINDING_TANGENTS] = &tangentBuffer;
    buffers[BINDING_AOV_DEPTH] = &aovDepthBuffer;
    buffers[BINDING_AOV_NORMAL] = &aovNormalBuffer;
    buffers[BINDING_AOV_OBJECT_ID] = &aovObjectIdBuffer;
    buffers[BINDING_OUTPUT] = &outputBuffer;
    if (addressTableBuffer.buffer == VK_NULL_HANDLE)
        addressTableBuffer = createDeviceBuffer(kAddressTableBytes, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    buffers[BINDING_ADDRESSES] = &addressTableBuffer;

    VkDescriptorBufferInfo infos[BINDING_COUNT]{};
    for (uint32_t b = BINDING_TLAS + 1; b < BINDING_COUNT; ++b) {
        const AllocatedBuffer* buffer = buffers[b];
        if (buffer->buffer == VK_NULL_HANDLE) {
            if (descriptorFallback.buffer == VK_NULL_HANDLE) {
                descriptorFallback =
                    createDeviceBuffer(kFallbackBytes, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
                uploadBuffer(descriptorFallback, kFallbackZeros, kFallbackBytes);
            }
            buffer = &descriptorFallback;
        }
        infos[b] = {buffer->buffer, 0, buffer->size};
    }
    // The table goes with the descriptors, so that a program reading a
    // binding through its address sees the buffer the descriptor names.
    VkDeviceAddress addresses[BINDING_COUNT] = {};
    for (uint32_t b = BINDING_TLAS + 1; b < BINDING_COUNT; ++b) addresses[b] = getBufferAddress(infos[b].buffer);
    // The TLAS has no buffer address; its entry names the host-built BVH
    // that CPU devices traverse instead, or stays 0 (trace with ray queries).
    if (cpuBvhBuffer.buffer != VK_NULL_HANDLE) addresses[BINDING_TLAS] = getBufferAddress(cpuBvhBuffer.buffer);
    uploadBuffer(addressTableBuffer, addresses, kAddressTableBytes);

    VkWriteDescriptorSetAccelerationStructureKHR tlasWrite{};
    tlasWrite.sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET_ACCELERATION_STRUCTURE_KHR;
    tlasWrite.accelerationStructureCount = 1;
    tlasWrite.pAccelerationStructures = &tlas;
    VkWriteDescriptorSet writes[BINDING_COUNT]{};
    for (uint32_t b = 0; b < BINDING_COUNT; ++b) {
        writes[b].sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
        writes[b].dstSet = descriptorSet;
        writes[b].dstBinding = b;
        writes[b].descriptorCount = 1;
        writes[b].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
        writes[b].pBufferInfo = &infos[b];
    }
    writes[BINDING_TLAS].descriptorType = VK_DESCRIPTOR_TYPE_ACCELERATION_STRUCTURE_KHR;
    writes[BINDING_TLAS].pBufferInfo = nullptr;
    writes[BINDING_TLAS].pNext = &tlasWrite;
    vkUpdateDescriptorSets(device, BINDING_COUNT, writes, 0, nullptr);
}
