#include "gpu/vk_features.h"

#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

bool device_has_extension(VkPhysicalDevice device, const char* name) {
    uint32_t count = 0;
    vkEnumerateDeviceExtensionProperties(device, nullptr, &count, nullptr);
    std::vector<VkExtensionProperties> list(count);
    if (count > 0) vkEnumerateDeviceExtensionProperties(device, nullptr, &count, list.data());
    for (uint32_t i = 0; i < count; ++i)
        if (std::strcmp(list[i].extensionName, name) == 0) return true;
    return false;
}

struct RequiredFeature {
    const char* name;
    VkBool32 (*get)(const DeviceFeatureReport&);
};

// In the order bring-up depends on them; the first missing one is reported.
constexpr RequiredFeature kRequired[] = {
    {"rayTracingPipeline",
     [](const DeviceFeatureReport& r) { return r.rayTracingPipeline.rayTracingPipeline; }},
    {"accelerationStructure",
     [](const DeviceFeatureReport& r) { return r.accelerationStructure.accelerationStructure; }},
    {"rayQuery", [](const DeviceFeatureReport& r) { return r.rayQuery.rayQuery; }},
    {"bufferDeviceAddress",
     [](const DeviceFeatureReport& r) { return r.vk12.bufferDeviceAddress; }},
    {"descriptorIndexing", [](const DeviceFeatureReport& r) { return r.vk12.descriptorIndexing; }},
    {"runtimeDescriptorArray",
     [](const DeviceFeatureReport& r) { return r.vk12.runtimeDescriptorArray; }},
    {"scalarBlockLayout", [](const DeviceFeatureReport& r) { return r.vk12.scalarBlockLayout; }},
    {"storageBuffer8BitAccess",
     [](const DeviceFeatureReport& r) { return r.vk12.storageBuffer8BitAccess; }},
    {"uniformAndStorageBuffer8BitAccess",
     [](const DeviceFeatureReport& r) { return r.vk12.uniformAndStorageBuffer8BitAccess; }},
    {"shaderInt8", [](const DeviceFeatureReport& r) { return r.vk12.shaderInt8; }},
};

}  // namespace

DeviceFeatureReport query_device_features(VkPhysicalDevice device) {
    DeviceFeatureReport report;
    VkPhysicalDeviceProperties props{};
    vkGetPhysicalDeviceProperties(device, &props);
    report.apiVersion = props.apiVersion;
    // The 1.2 record does not exist below 1.2; such a device fails on the
    // version alone.
    if (props.apiVersion < kRequiredVulkanVersion) return report;

    report.vk12.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES;
    report.accelerationStructure.sType =
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ACCELERATION_STRUCTURE_FEATURES_KHR;
    report.rayTracingPipeline.sType =
        VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_TRACING_PIPELINE_FEATURES_KHR;
    report.rayQuery.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_QUERY_FEATURES_KHR;
    report.floatAtomics.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SHADER_ATOMIC_FLOAT_FEATURES_EXT;
    report.motionBlur.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_TRACING_MOTION_BLUR_FEATURES_NV;

    // Only records of extensions the device lists go into the query chain.
    const bool accelExt = device_has_extension(device, "VK_KHR_acceleration_structure");
    const bool pipelineExt = device_has_extension(device, "VK_KHR_ray_tracing_pipeline");
    const bool rayQueryExt = device_has_extension(device, "VK_KHR_ray_query");
    const bool atomicsExt = device_has_extension(device, kAtomicFloatExtension);
    const bool motionExt = device_has_extension(device, kMotionBlurExtension);
    void* chain = nullptr;
    auto link = [&chain](bool present, auto& record) {
        if (!present) return;
        record.pNext = chain;
        chain = &record;
    };
    link(true, report.vk12);
    link(accelExt, report.accelerationStructure);
    link(pipelineExt, report.rayTracingPipeline);
    link(rayQueryExt, report.rayQuery);
    link(atomicsExt, report.floatAtomics);
    link(motionExt, report.motionBlur);
    VkPhysicalDeviceFeatures2 features{};
    features.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_FEATURES_2;
    features.pNext = chain;
    vkGetPhysicalDeviceFeatures2(device, &features);

    report.vk12.pNext = nullptr;
    report.accelerationStructure.pNext = nullptr;
    report.rayTracingPipeline.pNext = nullptr;
    report.rayQuery.pNext = nullptr;
    report.floatAtomics.pNext = nullptr;
    report.motionBlur.pNext = nullptr;
    return report;
}

std::string missing_required_feature(const DeviceFeatureReport& report) {
    for (const RequiredFeature& f : kRequired)
        if (f.get(report) != VK_TRUE) return f.name;
    return "";
}

void require_device_features(const DeviceFeatureReport& report, const std::string& deviceName) {
    if (report.apiVersion < kRequiredVulkanVersion)
        throw std::runtime_error("Vulkan device " + deviceName + " offers Vulkan " +
                                 std::to_string(VK_API_VERSION_MAJOR(report.apiVersion)) + "." +
                                 std::to_string(VK_API_VERSION_MINOR(report.apiVersion)) +
                                 "; Vulkan 1.2 is required");
    const std::string missing = missing_required_feature(report);
    if (!missing.empty())
        throw std::runtime_error("Vulkan device " + deviceName + " lacks the required feature " +
                                 missing);
}

bool reports_float_atomics(const DeviceFeatureReport& report) {
    return report.floatAtomics.shaderBufferFloat32AtomicAdd == VK_TRUE;
}

bool reports_motion_blur(const DeviceFeatureReport& report) {
    return report.motionBlur.rayTracingMotionBlur == VK_TRUE;
}
