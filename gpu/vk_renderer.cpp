#include "gpu/vk_renderer.h"

#include <cstdio>
#include <stdexcept>

#include "gpu/vk_check.h"

namespace {
// The Vulkan error text fits this buffer with room to spare.
constexpr size_t kVulkanErrorTextSize = 128;
}  // namespace

void throw_vulkan_error(VkResult result, int line) {
    char text[kVulkanErrorTextSize];
    std::snprintf(text, sizeof(text), "Vulkan error %d at %s:%d", static_cast<int>(result),
                  "vk_renderer", line);
    throw std::runtime_error(text);
}

VkRenderer::VkRenderer() = default;

VkRenderer::~VkRenderer() { destroy(); }
