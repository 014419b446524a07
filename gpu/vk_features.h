// The device features bring-up needs (ray-tracing pipeline, acceleration
// structures, ray queries, buffer device addresses, descriptor indexing,
// 8-bit storage, scalar layout) and can use (float atomics, motion blur), as
// a device reports them. Deciding from a plain report keeps the decision
// testable without a device that lacks anything.
#pragma once

#include <vulkan/vulkan.h>

#include <string>

// Feature records as the device filled them, pNext cleared. The records of
// an extension the device does not offer stay all zero.
struct DeviceFeatureReport {
    uint32_t apiVersion = 0;
    VkPhysicalDeviceVulkan12Features vk12{};
    VkPhysicalDeviceAccelerationStructureFeaturesKHR accelerationStructure{};
    VkPhysicalDeviceRayTracingPipelineFeaturesKHR rayTracingPipeline{};
    VkPhysicalDeviceRayQueryFeaturesKHR rayQuery{};
    VkPhysicalDeviceShaderAtomicFloatFeaturesEXT floatAtomics{};
    VkPhysicalDeviceRayTracingMotionBlurFeaturesNV motionBlur{};
};

// Extensions of the optional features.
inline constexpr const char* kAtomicFloatExtension = "VK_EXT_shader_atomic_float";
inline constexpr const char* kMotionBlurExtension = "VK_NV_ray_tracing_motion_blur";

// Lowest Vulkan version a device must offer.
inline constexpr uint32_t kRequiredVulkanVersion = VK_MAKE_API_VERSION(0, 1, 2, 0);

// Fills a report for `device`; the optional records only where the device
// lists their extension.
DeviceFeatureReport query_device_features(VkPhysicalDevice device);

// Name of the first required feature the report lacks (as Vulkan spells the
// member), or "" when every one is there.
std::string missing_required_feature(const DeviceFeatureReport& report);

// Throws std::runtime_error "Vulkan device <name> lacks the required feature
// <feature>" (or names the Vulkan version it offers when it is below 1.2).
void require_device_features(const DeviceFeatureReport& report, const std::string& deviceName);

// Optional capabilities the report offers.
bool reports_float_atomics(const DeviceFeatureReport& report);
bool reports_motion_blur(const DeviceFeatureReport& report);
