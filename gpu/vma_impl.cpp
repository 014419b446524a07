// The Vulkan Memory Allocator implementation, compiled once. Its functions
// are fetched at run time through vkGetInstanceProcAddr/vkGetDeviceProcAddr
// (the renderer hands the allocator only those two entry points).
#define VMA_STATIC_VULKAN_FUNCTIONS 0
#define VMA_DYNAMIC_VULKAN_FUNCTIONS 1
#define VMA_IMPLEMENTATION
#include <vk_mem_alloc.h>
