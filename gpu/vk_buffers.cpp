// Buffers, memory and one-shot command submission. Every submission is
// waited for on the renderer's single fence before the call returns.
#include <cstring>
#include <stdexcept>

#include "gpu/vk_barriers.h"
#include "gpu/vk_check.h"
#include "gpu/vk_renderer.h"

namespace {

constexpr VkMemoryPropertyFlags kHostCoherent =
    VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;

}  // namespace

VmaAllocationCreateInfo host_allocation_create_info(HostAccess access,
                                                    VkMemoryPropertyFlags required) {
    VmaAllocationCreateInfo info{};
    info.usage = VMA_MEMORY_USAGE_AUTO;
    info.requiredFlags = required;
    if (access == HostAccess::RandomRead) {
        // Uncached memory turns every host read into a bus transaction;
        // read-back wants cached memory where the device has it.
        info.flags =
            VMA_ALLOCATION_CREATE_MAPPED_BIT | VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT;
        info.preferredFlags = VK_MEMORY_PROPERTY_HOST_CACHED_BIT;
    } else {
        info.flags = VMA_ALLOCATION_CREATE_MAPPED_BIT |
                     VMA_ALLOCATION_CREATE_HOST_ACCESS_SEQUENTIAL_WRITE_BIT;
    }
    return info;
}

AllocatedBuffer VkRenderer::createBuffer(VkDeviceSize size, VkBufferUsageFlags usage,
                                         VkMemoryPropertyFlags properties) {
    // Vulkan has no empty buffers; a zero size is always a caller's mistake.
    if (size == 0) throw std::runtime_error("Cannot create a buffer of 0 bytes");
    VkBufferCreateInfo bufferInfo{};
    bufferInfo.sType = VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO;
    bufferInfo.size = size;
    bufferInfo.usage = usage;
    bufferInfo.sharingMode = VK_SHARING_MODE_EXCLUSIVE;

    VmaAllocationCreateInfo allocInfo{};
    if (properties & VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT) {
        allocInfo = host_allocation_create_info(HostAccess::SequentialWrite, properties);
    } else {
        allocInfo.requiredFlags = properties;
        allocInfo.usage = VMA_MEMORY_USAGE_AUTO_PREFER_DEVICE;
    }
    return allocateBuffer(bufferInfo, allocInfo);
}

AllocatedBuffer VkRenderer::createReadbackBuffer(VkDeviceSize size) {
    if (size == 0) throw std::runtime_error("Cannot create a buffer of 0 bytes");
    VkBufferCreateInfo bufferInfo{};
    bufferInfo.sType = VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO;
    bufferInfo.size = size;
    bufferInfo.usage = VK_BUFFER_USAGE_TRANSFER_DST_BIT;
    bufferInfo.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    // Coherent as well, so that readers need no invalidation of their own.
    return allocateBuffer(bufferInfo,
                          host_allocation_create_info(HostAccess::RandomRead, kHostCoherent));
}

AllocatedBuffer VkRenderer::allocateBuffer(const VkBufferCreateInfo& bufferInfo,
                                           const VmaAllocationCreateInfo& allocInfo) {
    AllocatedBuffer result;
    VK_CHECK(vmaCreateBuffer(allocator, &bufferInfo, &allocInfo, &result.buffer, &result.allocation,
                             nullptr));
    result.size = bufferInfo.size;
    return result;
}

AllocatedBuffer VkRenderer::createDeviceBuffer(VkDeviceSize size, VkBufferUsageFlags usage) {
    return createBuffer(size,
                        usage | VK_BUFFER_USAGE_SHADER_DEVICE_ADDRESS_BIT |
                            VK_BUFFER_USAGE_TRANSFER_DST_BIT,
                        VK_MEMORY_PROPERTY_DEVICE_LOCAL_BIT);
}

void VkRenderer::uploadBuffer(AllocatedBuffer& dst, const void* data, VkDeviceSize size) {
    if (size == 0) return;
    AllocatedBuffer staging = createBuffer(
        size, VK_BUFFER_USAGE_TRANSFER_SRC_BIT,
        VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT);
    // A failed upload releases its staging buffer and leaves dst untouched.
    try {
        void* mapped = nullptr;
        VK_CHECK(vmaMapMemory(allocator, staging.allocation, &mapped));
        std::memcpy(mapped, data, static_cast<size_t>(size));
        vmaUnmapMemory(allocator, staging.allocation);

        VkCommandBuffer cmd = beginSingleTimeCommands();
        recordUpload(cmd, staging.buffer, dst.buffer, size);
        endSingleTimeCommands(cmd);
    } catch (...) {
        destroyBuffer(staging);
        throw;
    }
    destroyBuffer(staging);
}

void VkRenderer::downloadBuffer(const AllocatedBuffer& src, void* data, VkDeviceSize size) {
    if (size == 0) return;
    AllocatedBuffer staging = createReadbackBuffer(size);
    try {
        VkCommandBuffer cmd = beginSingleTimeCommands();
        recordDownload(cmd, src.buffer, staging.buffer, size);
        endSingleTimeCommands(cmd);
        void* mapped = nullptr;
        VK_CHECK(vmaMapMemory(allocator, staging.allocation, &mapped));
        std::memcpy(data, mapped, static_cast<size_t>(size));
        vmaUnmapMemory(allocator, staging.allocation);
    } catch (...) {
        destroyBuffer(staging);
        throw;
    }
    destroyBuffer(staging);
}

void VkRenderer::recordUpload(VkCommandBuffer cmd, VkBuffer staging, VkBuffer dst,
                              VkDeviceSize size) {
    barrier_shader_to_transfer(cmd);
    const VkBufferCopy region{0, 0, size};
    vkCmdCopyBuffer(cmd, staging, dst, 1, &region);
    barrier_transfer_to_shader(cmd);
}

void VkRenderer::recordDownload(VkCommandBuffer cmd, VkBuffer src, VkBuffer staging,
                                VkDeviceSize size) {
    barrier_shader_to_transfer(cmd);
    const VkBufferCopy region{0, 0, size};
    vkCmdCopyBuffer(cmd, src, staging, 1, &region);
    barrier_transfer_to_host(cmd);
}

void VkRenderer::destroyBuffer(AllocatedBuffer& buffer) {
    if (buffer.buffer == VK_NULL_HANDLE) return;
    vmaDestroyBuffer(allocator, buffer.buffer, buffer.allocation);
    buffer = AllocatedBuffer{};
}

VkDeviceAddress VkRenderer::getBufferAddress(VkBuffer buffer) {
    VkBufferDeviceAddressInfo info{};
    info.sType = VK_STRUCTURE_TYPE_BUFFER_DEVICE_ADDRESS_INFO;
    info.buffer = buffer;
    return vkGetBufferDeviceAddress(device, &info);
}

VkCommandBuffer VkRenderer::beginSingleTimeCommands() {
    VkCommandBufferAllocateInfo allocInfo{};
    allocInfo.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO;
    allocInfo.commandPool = commandPool;
    allocInfo.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
    allocInfo.commandBufferCount = 1;
    VkCommandBuffer cmd = VK_NULL_HANDLE;
    VK_CHECK(vkAllocateCommandBuffers(device, &allocInfo, &cmd));
    VkCommandBufferBeginInfo beginInfo{};
    beginInfo.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO;
    beginInfo.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
    const VkResult begun = vkBeginCommandBuffer(cmd, &beginInfo);
    if (begun != VK_SUCCESS) {
        vkFreeCommandBuffers(device, commandPool, 1, &cmd);
        VK_CHECK(begun);
    }
    return cmd;
}

void VkRenderer::endSingleTimeCommands(VkCommandBuffer cmd) {
    // The command buffer goes back to the pool on every path.
    struct FreeOnExit {
        VkDevice device;
        VkCommandPool pool;
        VkCommandBuffer cmd;
        ~FreeOnExit() { vkFreeCommandBuffers(device, pool, 1, &cmd); }
    } release{device, commandPool, cmd};

    VK_CHECK(vkEndCommandBuffer(cmd));
    VK_CHECK(vkResetFences(device, 1, &fence));
    VkSubmitInfo submit{};
    submit.sType = VK_STRUCTURE_TYPE_SUBMIT_INFO;
    submit.commandBufferCount = 1;
    submit.pCommandBuffers = &cmd;
    VK_CHECK(vkQueueSubmit(queue, 1, &submit, fence));
    VK_CHECK(vkWaitForFences(device, 1, &fence, VK_TRUE, UINT64_MAX));
}
