// The one check every Vulkan result of the renderer goes through. A failed
// call becomes std::runtime_error "Vulkan error <code> at vk_renderer:<line>".
#pragma once

#include <vulkan/vulkan.h>

// Throws the renderer's Vulkan error text for `result` at `line`.
[[noreturn]] void throw_vulkan_error(VkResult result, int line);

inline void vk_check(VkResult result, int line) {
    if (result != VK_SUCCESS) throw_vulkan_error(result, line);
}

#define VK_CHECK(expr) vk_check((expr), __LINE__)
