// Device discovery, bring-up, teardown and the Vulkan error text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "gpu/vk_check.h"
#include "gpu_test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(DeviceList, ListsTheLavapipeDevice) {
    const std::vector<std::string> names = VkRenderer::enumerateRayTracingDevices();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_THAT(names[0], StartsWith("llvmpipe"));
}

TEST(DeviceInit, PrintsDeviceCapabilitiesAndOpensEverything) {
    VkRenderer r;
    const std::string out = capture_stdout([&] { r.init(true, 0); });
    const std::string name = VkRenderer::enumerateRayTracingDevices().at(0);
    EXPECT_THAT(out, HasSubstr("Vulkan device: " + name + "\n"));
    EXPECT_THAT(out, HasSubstr("  Float atomics: yes\n  Motion blur: no\n"));
    EXPECT_THAT(out, HasSubstr("Vulkan init complete (RT pipeline shaderGroupHandleSize=" +
                               std::to_string(r.rtPipelineProperties.shaderGroupHandleSize) +
                               ", maxRecursionDepth="));
    EXPECT_TRUE(r.hasFloatAtomics);
    EXPECT_FALSE(r.hasMotionBlur);
    EXPECT_NE(r.device, VK_NULL_HANDLE);
    EXPECT_NE(r.queue, VK_NULL_HANDLE);
    EXPECT_NE(r.debugMessenger, VK_NULL_HANDLE);
    EXPECT_NE(r.allocator, nullptr);
    EXPECT_NE(r.commandPool, VK_NULL_HANDLE);
    EXPECT_NE(r.fence, VK_NULL_HANDLE);
    EXPECT_NE(r.queueFamily, 0xFFFFFFFFu);
    EXPECT_NE(r.vkCmdTraceRaysKHR, nullptr);
    EXPECT_NE(r.vkCreateAccelerationStructureKHR, nullptr);
    EXPECT_GT(r.rtPipelineProperties.shaderGroupHandleSize, 0u);
    EXPECT_EQ(r.maxStorageBufferRange, 134217728u);
    r.destroy();
    EXPECT_EQ(r.validationMessageCount.load(), 0u);
}

TEST(DeviceInit, BadIndexFailsWithTheIndex) {
    const int count = static_cast<int>(VkRenderer::enumerateRayTracingDevices().size());
    VkRenderer r;
    try {
        r.init(true, count);
        FAIL() << "init succeeded on a missing device";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "No RT-capable Vulkan device at index " +
                                             std::to_string(count));
    }
    // The instance of the failed init is released by destroy.
    EXPECT_NE(r.instance, VK_NULL_HANDLE);
    r.destroy();
    EXPECT_EQ(r.instance, VK_NULL_HANDLE);
    EXPECT_EQ(r.debugMessenger, VK_NULL_HANDLE);
    EXPECT_EQ(r.validationMessageCount.load(), 0u);
}

TEST(DeviceInit, NegativeIndexFails) {
    VkRenderer r;
    EXPECT_THROW(r.init(false, -1), std::runtime_error);
}

TEST(DeviceInit, WithoutValidationThereIsNoMessenger) {
    VkRenderer r;
    capture_stdout([&] { r.init(false, 0); });
    EXPECT_EQ(r.debugMessenger, VK_NULL_HANDLE);
    EXPECT_NE(r.device, VK_NULL_HANDLE);
    r.destroy();
    EXPECT_EQ(r.device, VK_NULL_HANDLE);
    EXPECT_EQ(r.instance, VK_NULL_HANDLE);
}

TEST(DeviceInit, DestroyTwiceAndOnAFreshObject) {
    VkRenderer fresh;
    fresh.destroy();
    fresh.destroy();
    EXPECT_EQ(fresh.device, VK_NULL_HANDLE);

    VkRenderer r;
    capture_stdout([&] { r.init(true, 0); });
    r.destroy();
    EXPECT_EQ(r.device, VK_NULL_HANDLE);
    EXPECT_EQ(r.allocator, nullptr);
    EXPECT_EQ(r.fence, VK_NULL_HANDLE);
    EXPECT_EQ(r.commandPool, VK_NULL_HANDLE);
    EXPECT_EQ(r.instance, VK_NULL_HANDLE);
    r.destroy();
    EXPECT_EQ(r.validationMessageCount.load(), 0u);
}

TEST(DebugCallback, CountsAndPrintsOnlyWarningsAndErrors) {
    VkRenderer r;
    VkDebugUtilsMessengerCallbackDataEXT data{};
    data.sType = VK_STRUCTURE_TYPE_DEBUG_UTILS_MESSENGER_CALLBACK_DATA_EXT;
    data.pMessage = "something odd";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(VkRenderer::debugCallback(VK_DEBUG_UTILS_MESSAGE_SEVERITY_INFO_BIT_EXT,
                                        VK_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT, &data, &r),
              VK_FALSE);
    EXPECT_EQ(VkRenderer::debugCallback(VK_DEBUG_UTILS_MESSAGE_SEVERITY_VERBOSE_BIT_EXT,
                                        VK_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT, &data, &r),
              VK_FALSE);
    EXPECT_EQ(r.validationMessageCount.load(), 0u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(VkRenderer::debugCallback(VK_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT,
                                        VK_DEBUG_UTILS_MESSAGE_TYPE_VALIDATION_BIT_EXT, &data, &r),
              VK_FALSE);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "[Vulkan] something odd\n");
    EXPECT_EQ(r.validationMessageCount.load(), 1u);
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
