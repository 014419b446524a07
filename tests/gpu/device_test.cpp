// Device discovery, bring-up, teardown and the Vulkan error text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "gpu/vk_check.h"
#include "gpu/vk_features.h"
#include "gpu_test_support.h"

namespace {

using ::testing::HasSubstr;

// Vulkan's guaranteed minimum, which lavapipe offers exactly.
constexpr VkDeviceSize kMinStorageBufferRange = VkDeviceSize{1} << 27;

bool is_lavapipe(const std::string& deviceName) { return deviceName.rfind("llvmpipe", 0) == 0; }

TEST(DeviceList, ListsEveryRayTracingDeviceOnce) {
    const std::vector<std::string> names = VkRenderer::enumerateRayTracingDevices();
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) EXPECT_FALSE(name.empty());
    // lavapipe, when installed, is one device; a machine with nothing else
    // (the test machines) lists exactly that one.
    const size_t lavapipes =
        static_cast<size_t>(std::count_if(names.begin(), names.end(), is_lavapipe));
    EXPECT_LE(lavapipes, 1u);
    if (lavapipes == names.size()) {
        EXPECT_EQ(names.size(), 1u);
    }
}

// A report with every required feature and neither optional one.
DeviceFeatureReport complete_report() {
    DeviceFeatureReport r;
    r.apiVersion = VK_MAKE_API_VERSION(0, 1, 3, 0);
    r.rayTracingPipeline.rayTracingPipeline = VK_TRUE;
    r.accelerationStructure.accelerationStructure = VK_TRUE;
    r.rayQuery.rayQuery = VK_TRUE;
    for (VkBool32* f :
         {&r.vk12.bufferDeviceAddress, &r.vk12.descriptorIndexing, &r.vk12.runtimeDescriptorArray,
          &r.vk12.scalarBlockLayout, &r.vk12.storageBuffer8BitAccess,
          &r.vk12.uniformAndStorageBuffer8BitAccess, &r.vk12.shaderInt8})
        *f = VK_TRUE;
    return r;
}

TEST(DeviceFeatures, EachMissingRequiredFeatureFailsBringUpByName) {
    using R = DeviceFeatureReport;
    const struct {
        const char* name;
        VkBool32* (*field)(R&);
    } cases[] = {
        {"rayTracingPipeline", [](R& r) { return &r.rayTracingPipeline.rayTracingPipeline; }},
        {"accelerationStructure", [](R& r) { return &r.accelerationStructure.accelerationStructure; }},
        {"rayQuery", [](R& r) { return &r.rayQuery.rayQuery; }},
        {"bufferDeviceAddress", [](R& r) { return &r.vk12.bufferDeviceAddress; }},
        {"descriptorIndexing", [](R& r) { return &r.vk12.descriptorIndexing; }},
        {"runtimeDescriptorArray", [](R& r) { return &r.vk12.runtimeDescriptorArray; }},
        {"scalarBlockLayout", [](R& r) { return &r.vk12.scalarBlockLayout; }},
        {"storageBuffer8BitAccess", [](R& r) { return &r.vk12.storageBuffer8BitAccess; }},
        {"uniformAndStorageBuffer8BitAccess", [](R& r) { return &r.vk12.uniformAndStorageBuffer8BitAccess; }},
        {"shaderInt8", [](R& r) { return &r.vk12.shaderInt8; }},
    };
    EXPECT_EQ(missing_required_feature(complete_report()), "");
    EXPECT_NO_THROW(require_device_features(complete_report(), "GPU"));
    for (const auto& c : cases) {
        DeviceFeatureReport r = complete_report();
        *c.field(r) = VK_FALSE;
        EXPECT_EQ(missing_required_feature(r), c.name);
        try {
            require_device_features(r, "Test GPU");
            ADD_FAILURE() << "a device without " << c.name << " was accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string("Vulkan device Test GPU lacks the required feature ") + c.name);
        }
    }
}

TEST(DeviceFeatures, OldVulkanVersionIsNamedAndOptionalFeaturesAreOnlyReported) {
    DeviceFeatureReport old = complete_report();
    old.apiVersion = VK_MAKE_API_VERSION(0, 1, 1, 0);
    try {
        require_device_features(old, "Old GPU");
        FAIL() << "a Vulkan 1.1 device was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Vulkan device Old GPU offers Vulkan 1.1; Vulkan 1.2 is required");
    }
    DeviceFeatureReport r = complete_report();
    EXPECT_FALSE(reports_float_atomics(r));
    EXPECT_FALSE(reports_motion_blur(r));
    r.floatAtomics.shaderBufferFloat32AtomicAdd = VK_TRUE;
    r.motionBlur.rayTracingMotionBlur = VK_TRUE;
    EXPECT_TRUE(reports_float_atomics(r));
    EXPECT_TRUE(reports_motion_blur(r));
    EXPECT_EQ(missing_required_feature(r), "");
}

TEST(DeviceInit, MissingDeviceIndexFailsWithTheIndex) {
    const int count = static_cast<int>(VkRenderer::enumerateRayTracingDevices().size());
    for (int index : {count, -1}) {
        VkRenderer r;
        try {
            r.init(true, index);
            ADD_FAILURE() << "init succeeded on missing device " << index;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "No RT-capable Vulkan device at index " + std::to_string(index));
        }
        // The instance of the failed init is released by destroy.
        EXPECT_NE(r.instance, VK_NULL_HANDLE);
        r.destroy();
        EXPECT_EQ(r.instance, VK_NULL_HANDLE);
        EXPECT_EQ(r.debugMessenger, VK_NULL_HANDLE);
        EXPECT_EQ(r.validationMessageCount.load(), 0u);
    }
}

// With and without validation: bring-up prints the device and opens every
// handle, the messenger exists only with
// validation, a second init is refused until destroy, destroy releases
// everything and repeats harmlessly, and the object can be initialised again.
TEST(DeviceInit, BringUpAndLifeCycleWithAndWithoutValidation) {
    VkRenderer fresh;
    fresh.destroy();
    fresh.destroy();
    EXPECT_EQ(fresh.device, VK_NULL_HANDLE);

    const std::string name = VkRenderer::enumerateRayTracingDevices().at(0);
    for (bool validation : {true, false}) {
        VkRenderer r;
        const std::string out = capture_stdout([&] { r.init(validation, 0); });
        EXPECT_THAT(out, HasSubstr("Vulkan device: " + name + "\n"));
        const DeviceFeatureReport reported = query_device_features(r.physicalDevice);
        EXPECT_EQ(missing_required_feature(reported), "");
        EXPECT_GE(reported.apiVersion, kRequiredVulkanVersion);
        EXPECT_EQ(r.hasFloatAtomics, reports_float_atomics(reported));
        EXPECT_EQ(r.hasMotionBlur, reports_motion_blur(reported));
        EXPECT_TRUE(r.device && r.queue && r.allocator && r.commandPool && r.fence);
        EXPECT_EQ(r.debugMessenger != VK_NULL_HANDLE, validation);
        EXPECT_NE(r.queueFamily, 0xFFFFFFFFu);
        EXPECT_TRUE(r.vkCmdTraceRaysKHR && r.vkCreateAccelerationStructureKHR);
        EXPECT_GT(r.rtPipelineProperties.shaderGroupHandleSize, 0u);
        EXPECT_GE(r.maxStorageBufferRange, kMinStorageBufferRange);
        if (is_lavapipe(name)) {
            EXPECT_TRUE(r.hasFloatAtomics);
            EXPECT_FALSE(r.hasMotionBlur);
            EXPECT_EQ(r.maxStorageBufferRange, kMinStorageBufferRange);
        }
        const VkDevice first = r.device;
        EXPECT_THROW(r.init(validation, 0), std::runtime_error);
        EXPECT_EQ(r.device, first);
        r.destroy();
        EXPECT_FALSE(r.device || r.allocator || r.fence || r.commandPool || r.debugMessenger || r.instance);
        r.destroy();
        capture_stdout([&] { r.init(validation, 0); });
        EXPECT_NE(r.device, VK_NULL_HANDLE);
        r.destroy();
        EXPECT_EQ(r.validationMessageCount.load(), 0u);
    }
}

TEST(DebugCallback, CountsAndPrintsOnlyWarningsAndErrors) {
    VkRenderer r;
    VkDebugUtilsMessengerCallbackDataEXT data{};
    data.sType = VK_STRUCTURE_TYPE_DEBUG_UTILS_MESSENGER_CALLBACK_DATA_EXT;
    data.pMessage = "something odd";
    const struct {
        VkDebugUtilsMessageSeverityFlagBitsEXT severity;
        const char* printed;
        unsigned count;
    } cases[] = {{VK_DEBUG_UTILS_MESSAGE_SEVERITY_INFO_BIT_EXT, "", 0},
                 {VK_DEBUG_UTILS_MESSAGE_SEVERITY_VERBOSE_BIT_EXT, "", 0},
                 {VK_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT, "[Vulkan] something odd\n", 1},
                 {VK_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT, "[Vulkan] something odd\n", 2}};
    for (const auto& c : cases) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(VkRenderer::debugCallback(c.severity, VK_DEBUG_UTILS_MESSAGE_TYPE_VALIDATION_BIT_EXT, &data, &r),
                  VK_FALSE);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.printed) << c.severity;
        EXPECT_EQ(r.validationMessageCount.load(), c.count) << c.severity;
    }
}

TEST(VulkanError, TextNamesCodeSourceAndLine) {
    try {
        VK_CHECK(VK_ERROR_OUT_OF_DEVICE_MEMORY);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Vulkan error -2 at vk_renderer:" +
                                             std::to_string(__LINE__ - 4));
    }
    EXPECT_NO_THROW(VK_CHECK(VK_SUCCESS));
}

// Runs only through the ctest entry gpu_two_devices, which points the loader
// at two copies of the lavapipe manifest.
TEST(DISABLED_TwoDevices, DoubledManifestGivesTwoDevices) {
    ASSERT_NE(std::getenv("VK_DRIVER_FILES"), nullptr);
    const std::vector<std::string> names = VkRenderer::enumerateRayTracingDevices();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], names[1]);

    VkRenderer second;
    const std::string out = capture_stdout([&] { second.init(true, 1); });
    EXPECT_THAT(out, HasSubstr("Vulkan device: " + names[1]));
    VkRenderer first;
    capture_stdout([&] { first.init(true, 0); });
    // Both devices work side by side.
    for (VkRenderer* r : {&first, &second}) {
        const uint32_t value = 0xC0FFEEu;
        AllocatedBuffer b = r->createDeviceBuffer(4, VK_BUFFER_USAGE_TRANSFER_SRC_BIT);
        r->uploadBuffer(b, &value, 4);
        uint32_t back = 0;
        r->downloadBuffer(b, &back, 4);
        EXPECT_EQ(back, value);
        r->destroyBuffer(b);
    }
    first.destroy();
    second.destroy();
    EXPECT_EQ(first.validationMessageCount.load() + second.validationMessageCount.load(), 0u);

    VkRenderer third;
    EXPECT_THROW(third.init(false, 2), std::runtime_error);
}

}  // namespace
