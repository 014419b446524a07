// Device discovery, bring-up and teardown.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "gpu/vk_check.h"
#include "gpu/vk_features.h"
#include "gpu/vk_renderer.h"

namespace {

constexpr const char* kValidationLayer = "VK_LAYER_KHRONOS_validation";
constexpr const char* kRequiredRayTracingExtensions[] = {
    "VK_KHR_acceleration_structure", "VK_KHR_ray_tracing_pipeline", "VK_KHR_ray_query",
    "VK_KHR_deferred_host_operations"};

VkApplicationInfo application_info() {
    VkApplicationInfo app{};
    app.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
    app.pApplicationName = "Vitrel";
    app.applicationVersion = 0;
    app.pEngineName = nullptr;
    app.engineVersion = 0;
    app.apiVersion = VK_MAKE_API_VERSION(0, 1, 2, 0);
    return app;
}

std::vector<VkPhysicalDevice> physical_devices(VkInstance instance) {
    uint32_t count = 0;
    vkEnumeratePhysicalDevices(instance, &count, nullptr);
    std::vector<VkPhysicalDevice> devices(count);
    if (count > 0) vkEnumeratePhysicalDevices(instance, &count, devices.data());
    devices.resize(count);
    return devices;
}

std::vector<VkExtensionProperties> device_extensions(VkPhysicalDevice device) {
    uint32_t count = 0;
    vkEnumerateDeviceExtensionProperties(device, nullptr, &count, nullptr);
    std::vector<VkExtensionProperties> extensions(count);
    if (count > 0) vkEnumerateDeviceExtensionProperties(device, nullptr, &count, extensions.data());
    extensions.resize(count);
    return extensions;
}

bool has_extension(const std::vector<VkExtensionProperties>& list, const char* name) {
    for (const VkExtensionProperties& e : list)
        if (std::strcmp(e.extensionName, name) == 0) return true;
    return false;
}

bool layer_has_extension(const char* layer, const char* name) {
    uint32_t count = 0;
    if (vkEnumerateInstanceExtensionProperties(layer, &count, nullptr) != VK_SUCCESS) return false;
    std::vector<VkExtensionProperties> extensions(count);
    if (count > 0) vkEnumerateInstanceExtensionProperties(layer, &count, extensions.data());
    extensions.resize(count);
    return has_extension(extensions, name);
}

// Shared by the device list and init so that indices always agree.
bool is_ray_tracing_capable(VkPhysicalDevice device) {
    const std::vector<VkExtensionProperties> list = device_extensions(device);
    for (const char* name : kRequiredRayTracingExtensions)
        if (!has_extension(list, name)) return false;
    return true;
}

template <typename Fn>
Fn instance_proc(VkInstance instance, const char* name) {
    return reinterpret_cast<Fn>(vkGetInstanceProcAddr(instance, name));
}

template <typename Fn>
void load_device_proc(VkDevice device, Fn& out, const char* name) {
    out = reinterpret_cast<Fn>(vkGetDeviceProcAddr(device, name));
    if (!out) throw std::runtime_error(std::string("Failed to load ") + name);
}

const char* yes_no(bool value) { return value ? "yes" : "no"; }

}  // namespace

std::vector<std::string> VkRenderer::enumerateRayTracingDevices() {
    std::vector<std::string> names;
    const VkApplicationInfo app = application_info();
    VkInstanceCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
    info.pApplicationInfo = &app;
    VkInstance probe = VK_NULL_HANDLE;
    if (vkCreateInstance(&info, nullptr, &probe) != VK_SUCCESS) return names;
    for (VkPhysicalDevice device : physical_devices(probe)) {
        if (!is_ray_tracing_capable(device)) continue;
        VkPhysicalDeviceProperties props{};
        vkGetPhysicalDeviceProperties(device, &props);
        names.emplace_back(props.deviceName);
    }
    vkDestroyInstance(probe, nullptr);
    return names;
}

VKAPI_ATTR VkBool32 VKAPI_CALL VkRenderer::debugCallback(
    VkDebugUtilsMessageSeverityFlagBitsEXT severity, VkDebugUtilsMessageTypeFlagsEXT /*types*/,
    const VkDebugUtilsMessengerCallbackDataEXT* data, void* userData) {
    if (severity < VK_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT) return VK_FALSE;
    std::fprintf(stderr, "[Vulkan] %s\n", data && data->pMessage ? data->pMessage : "");
    if (userData) static_cast<VkRenderer*>(userData)->validationMessageCount.fetch_add(1);
    return VK_FALSE;
}

void VkRenderer::init(bool enableValidation, int deviceIndex) {
    // A second init would orphan every object of the first.
    if (instance != VK_NULL_HANDLE)
        throw std::runtime_error("VkRenderer is already initialised; call destroy first");
    // 1. Instance, with the validation layer and debug utils on request.
    const VkApplicationInfo app = application_info();
    const char* layers[] = {kValidationLayer};
    std::vector<const char*> instanceExtensions = {VK_EXT_DEBUG_UTILS_EXTENSION_NAME};
    VkInstanceCreateInfo instanceInfo{};
    instanceInfo.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
    instanceInfo.pApplicationInfo = &app;
    const VkValidationFeatureEnableEXT syncValidation =
        VK_VALIDATION_FEATURE_ENABLE_SYNCHRONIZATION_VALIDATION_EXT;
    VkValidationFeaturesEXT validationFeatures{};
    validationFeatures.sType = VK_STRUCTURE_TYPE_VALIDATION_FEATURES_EXT;
    validationFeatures.enabledValidationFeatureCount = 1;
    validationFeatures.pEnabledValidationFeatures = &syncValidation;
    if (enableValidation) {
        instanceInfo.enabledLayerCount = 1;
        instanceInfo.ppEnabledLayerNames = layers;
        if (synchronizationValidation) {
            if (!layer_has_extension(kValidationLayer, VK_EXT_VALIDATION_FEATURES_EXTENSION_NAME))
                throw std::runtime_error(
                    "Synchronisation validation needs VK_EXT_validation_features from the "
                    "validation layer");
            instanceExtensions.push_back(VK_EXT_VALIDATION_FEATURES_EXTENSION_NAME);
            instanceInfo.pNext = &validationFeatures;
        }
        instanceInfo.enabledExtensionCount = static_cast<uint32_t>(instanceExtensions.size());
        instanceInfo.ppEnabledExtensionNames = instanceExtensions.data();
    }
    VK_CHECK(vkCreateInstance(&instanceInfo, nullptr, &instance));

    // 2. Messenger for warnings and errors; its absence is not fatal.
    if (enableValidation) {
        auto create = instance_proc<PFN_vkCreateDebugUtilsMessengerEXT>(
            instance, "vkCreateDebugUtilsMessengerEXT");
        if (create) {
            VkDebugUtilsMessengerCreateInfoEXT messengerInfo{};
            messengerInfo.sType = VK_STRUCTURE_TYPE_DEBUG_UTILS_MESSENGER_CREATE_INFO_EXT;
            messengerInfo.messageSeverity = VK_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT |
                                            VK_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT;
            messengerInfo.messageType = VK_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT |
                                        VK_DEBUG_UTILS_MESSAGE_TYPE_VALIDATION_BIT_EXT;
            messengerInfo.pfnUserCallback = &VkRenderer::debugCallback;
            messengerInfo.pUserData = this;
            create(instance, &messengerInfo, nullptr, &debugMessenger);
        }
    }

    // 3. The deviceIndex-th ray-tracing-capable device.
    int capableSeen = 0;
    for (VkPhysicalDevice candidate : physical_devices(instance)) {
        if (!is_ray_tracing_capable(candidate)) continue;
        if (capableSeen == deviceIndex) {
            physicalDevice = candidate;
            break;
        }
        ++capableSeen;
    }
    if (physicalDevice == VK_NULL_HANDLE)
        throw std::runtime_error("No RT-capable Vulkan device at index " +
                                 std::to_string(deviceIndex));

    // 4. Name.
    VkPhysicalDeviceProperties props{};
    vkGetPhysicalDeviceProperties(physicalDevice, &props);
    std::printf("Vulkan device: %s\n", props.deviceName);
    maxStorageBufferRange = props.limits.maxStorageBufferRange;
    sampleRegeneration = props.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU;
    computeEyePaths = props.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU;

    // 5. Required features, then the optional ones.
    const DeviceFeatureReport reported = query_device_features(physicalDevice);
    require_device_features(reported, props.deviceName);
    hasFloatAtomics = reports_float_atomics(reported);
    hasMotionBlur = reports_motion_blur(reported);
    std::printf("  Float atomics: %s\n", yes_no(hasFloatAtomics));
    std::printf("  Motion blur: %s\n", yes_no(hasMotionBlur));

    // 6. Ray-tracing pipeline properties.
    rtPipelineProperties = {};
    rtPipelineProperties.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_TRACING_PIPELINE_PROPERTIES_KHR;
    VkPhysicalDeviceAccelerationStructurePropertiesKHR accelProperties{};
    accelProperties.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ACCELERATION_STRUCTURE_PROPERTIES_KHR;
    rtPipelineProperties.pNext = &accelProperties;
    VkPhysicalDeviceProperties2 props2{};
    props2.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_PROPERTIES_2;
    props2.pNext = &rtPipelineProperties;
    vkGetPhysicalDeviceProperties2(physicalDevice, &props2);
    rtPipelineProperties.pNext = nullptr;
    scratchAlignment =
        std::max<VkDeviceSize>(1, accelProperties.minAccelerationStructureScratchOffsetAlignment);

    // 7. First compute-capable queue family.
    uint32_t familyCount = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(physicalDevice, &familyCount, nullptr);
    std::vector<VkQueueFamilyProperties> families(familyCount);
    vkGetPhysicalDeviceQueueFamilyProperties(physicalDevice, &familyCount, families.data());
    for (uint32_t i = 0; i < familyCount; ++i) {
        if (families[i].queueFlags & VK_QUEUE_COMPUTE_BIT) {
            queueFamily = i;
            break;
        }
    }
    const float priority = 1.0f;
    VkDeviceQueueCreateInfo queueInfo{};
    queueInfo.sType = VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO;
    queueInfo.queueFamilyIndex = queueFamily;
    queueInfo.queueCount = 1;
    queueInfo.pQueuePriorities = &priority;

    // 8. Device extensions.
    std::vector<const char*> deviceExtensions = {
        "VK_KHR_acceleration_structure", "VK_KHR_ray_tracing_pipeline",
        "VK_KHR_ray_query",              "VK_KHR_deferred_host_operations",
        "VK_KHR_buffer_device_address",  "VK_EXT_descriptor_indexing",
        "VK_KHR_spirv_1_4",              "VK_KHR_shader_float_controls"};
    if (hasFloatAtomics) deviceExtensions.push_back(kAtomicFloatExtension);
    if (hasMotionBlur) deviceExtensions.push_back(kMotionBlurExtension);

    // 9. Features, only through the pNext chain.
    VkPhysicalDeviceAccelerationStructureFeaturesKHR accelFeatures{};
    accelFeatures.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_ACCELERATION_STRUCTURE_FEATURES_KHR;
    accelFeatures.accelerationStructure = VK_TRUE;
    VkPhysicalDeviceRayTracingPipelineFeaturesKHR pipelineFeatures{};
    pipelineFeatures.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_TRACING_PIPELINE_FEATURES_KHR;
    pipelineFeatures.rayTracingPipeline = VK_TRUE;
    pipelineFeatures.pNext = &accelFeatures;
    VkPhysicalDeviceRayQueryFeaturesKHR rayQueryFeatures{};
    rayQueryFeatures.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_QUERY_FEATURES_KHR;
    rayQueryFeatures.rayQuery = VK_TRUE;
    rayQueryFeatures.pNext = &pipelineFeatures;
    VkPhysicalDeviceShaderAtomicFloatFeaturesEXT atomicFeatures{};
    atomicFeatures.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_SHADER_ATOMIC_FLOAT_FEATURES_EXT;
    atomicFeatures.shaderBufferFloat32AtomicAdd = VK_TRUE;
    atomicFeatures.pNext = &rayQueryFeatures;
    VkPhysicalDeviceRayTracingMotionBlurFeaturesNV motionFeatures{};
    motionFeatures.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_RAY_TRACING_MOTION_BLUR_FEATURES_NV;
    motionFeatures.rayTracingMotionBlur = VK_TRUE;
    motionFeatures.pNext = hasFloatAtomics ? static_cast<void*>(&atomicFeatures)
                                           : static_cast<void*>(&rayQueryFeatures);
    VkPhysicalDeviceVulkan12Features vk12{};
    vk12.sType = VK_STRUCTURE_TYPE_PHYSICAL_DEVICE_VULKAN_1_2_FEATURES;
    vk12.storageBuffer8BitAccess = VK_TRUE;
    vk12.uniformAndStorageBuffer8BitAccess = VK_TRUE;
    vk12.shaderInt8 = VK_TRUE;
    vk12.scalarBlockLayout = VK_TRUE;
    vk12.bufferDeviceAddress = VK_TRUE;
    vk12.runtimeDescriptorArray = VK_TRUE;
    // Enabling VK_EXT_descriptor_indexing next to a Vulkan 1.2 feature record
    // requires the record to claim descriptor indexing as well.
    vk12.descriptorIndexing = VK_TRUE;
    vk12.pNext = hasMotionBlur ? static_cast<void*>(&motionFeatures) : motionFeatures.pNext;

    // 10. Device and queue.
    VkDeviceCreateInfo deviceInfo{};
    deviceInfo.sType = VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO;
    deviceInfo.pNext = &vk12;
    deviceInfo.queueCreateInfoCount = 1;
    deviceInfo.pQueueCreateInfos = &queueInfo;
    deviceInfo.enabledExtensionCount = static_cast<uint32_t>(deviceExtensions.size());
    deviceInfo.ppEnabledExtensionNames = deviceExtensions.data();
    VK_CHECK(vkCreateDevice(physicalDevice, &deviceInfo, nullptr, &device));
    vkGetDeviceQueue(device, queueFamily, 0, &queue);

    // 11. Allocator; it fetches every other entry point itself.
    VmaVulkanFunctions functions{};
    functions.vkGetInstanceProcAddr = vkGetInstanceProcAddr;
    functions.vkGetDeviceProcAddr = vkGetDeviceProcAddr;
    VmaAllocatorCreateInfo allocatorInfo{};
    allocatorInfo.flags = VMA_ALLOCATOR_CREATE_BUFFER_DEVICE_ADDRESS_BIT;
    allocatorInfo.instance = instance;
    allocatorInfo.physicalDevice = physicalDevice;
    allocatorInfo.device = device;
    allocatorInfo.vulkanApiVersion = VK_MAKE_API_VERSION(0, 1, 2, 0);
    allocatorInfo.pVulkanFunctions = &functions;
    VK_CHECK(vmaCreateAllocator(&allocatorInfo, &allocator));

    // 12. Command pool and the single fence.
    VkCommandPoolCreateInfo poolInfo{};
    poolInfo.sType = VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO;
    poolInfo.flags = VK_COMMAND_POOL_CREATE_RESET_COMMAND_BUFFER_BIT;
    poolInfo.queueFamilyIndex = queueFamily;
    VK_CHECK(vkCreateCommandPool(device, &poolInfo, nullptr, &commandPool));
    VkFenceCreateInfo fenceInfo{};
    fenceInfo.sType = VK_STRUCTURE_TYPE_FENCE_CREATE_INFO;
    VK_CHECK(vkCreateFence(device, &fenceInfo, nullptr, &fence));

    // 13-14.
    loadExtensionFunctions();
    std::printf("Vulkan init complete (RT pipeline shaderGroupHandleSize=%u, maxRecursionDepth=%u)\n",
                rtPipelineProperties.shaderGroupHandleSize,
                rtPipelineProperties.maxRayRecursionDepth);
}

void VkRenderer::loadExtensionFunctions() {
    load_device_proc(device, vkCreateAccelerationStructureKHR, "vkCreateAccelerationStructureKHR");
    load_device_proc(device, vkDestroyAccelerationStructureKHR, "vkDestroyAccelerationStructureKHR");
    load_device_proc(device, vkGetAccelerationStructureBuildSizesKHR,
                     "vkGetAccelerationStructureBuildSizesKHR");
    load_device_proc(device, vkCmdBuildAccelerationStructuresKHR,
                     "vkCmdBuildAccelerationStructuresKHR");
    load_device_proc(device, vkGetAccelerationStructureDeviceAddressKHR,
                     "vkGetAccelerationStructureDeviceAddressKHR");
    load_device_proc(device, vkCmdWriteAccelerationStructuresPropertiesKHR,
                     "vkCmdWriteAccelerationStructuresPropertiesKHR");
    load_device_proc(device, vkCmdCopyAccelerationStructureKHR, "vkCmdCopyAccelerationStructureKHR");
    load_device_proc(device, vkCreateRayTracingPipelinesKHR, "vkCreateRayTracingPipelinesKHR");
    load_device_proc(device, vkGetRayTracingShaderGroupHandlesKHR,
                     "vkGetRayTracingShaderGroupHandlesKHR");
    load_device_proc(device, vkCmdTraceRaysKHR, "vkCmdTraceRaysKHR");
}

void VkRenderer::destroy() {
    if (device != VK_NULL_HANDLE) destroyDeviceObjects();
    // An init that failed before the device existed still owns its instance
    // and messenger; they go here too so that a failed init leaks nothing.
    if (debugMessenger != VK_NULL_HANDLE) {
        auto destroyMessenger = instance_proc<PFN_vkDestroyDebugUtilsMessengerEXT>(
            instance, "vkDestroyDebugUtilsMessengerEXT");
        if (destroyMessenger) destroyMessenger(instance, debugMessenger, nullptr);
        debugMessenger = VK_NULL_HANDLE;
    }
    if (instance != VK_NULL_HANDLE) vkDestroyInstance(instance, nullptr);
    instance = VK_NULL_HANDLE;
    physicalDevice = VK_NULL_HANDLE;
}

void VkRenderer::destroyDeviceObjects() {
    destroySceneResources();
    destroyPipelines();
    destroyPassTiming();
    if (fence != VK_NULL_HANDLE) vkDestroyFence(device, fence, nullptr);
    fence = VK_NULL_HANDLE;
    if (commandPool != VK_NULL_HANDLE) vkDestroyCommandPool(device, commandPool, nullptr);
    commandPool = VK_NULL_HANDLE;
    if (allocator) vmaDestroyAllocator(allocator);
    allocator = nullptr;
    vkDestroyDevice(device, nullptr);
    device = VK_NULL_HANDLE;
    queue = VK_NULL_HANDLE;
}
