// Buffers, memory and one-shot commands on the real device.
#include <gtest/gtest.h>

#include <numeric>

#include "gpu_test_support.h"

namespace {

using BufferTest = GpuTest;

TEST_F(BufferTest, FourBytesRoundTrip) {
    AllocatedBuffer b = renderer->createDeviceBuffer(4, VK_BUFFER_USAGE_TRANSFER_SRC_BIT);
    EXPECT_EQ(b.size, 4u);
    const uint32_t value = 0xDEADBEEFu;
    renderer->uploadBuffer(b, &value, sizeof(value));
    EXPECT_EQ(download<uint32_t>(b), std::vector<uint32_t>{value});
    renderer->destroyBuffer(b);
}

TEST_F(BufferTest, LargeUploadRoundTripsByteForByte) {
    std::vector<uint32_t> words(1 << 18);
    std::iota(words.begin(), words.end(), 7u);
    AllocatedBuffer b = renderer->createDeviceBuffer(
        words.size() * 4, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT);
    renderer->uploadBuffer(b, words.data(), words.size() * 4);
    EXPECT_EQ(download<uint32_t>(b), words);
    renderer->destroyBuffer(b);
}

TEST_F(BufferTest, PartialUploadLeavesTheTailAlone) {
    AllocatedBuffer b = renderer->createDeviceBuffer(16, VK_BUFFER_USAGE_TRANSFER_SRC_BIT);
    const uint32_t all[4] = {1, 2, 3, 4};
    renderer->uploadBuffer(b, all, 16);
    const uint32_t head[2] = {9, 8};
    renderer->uploadBuffer(b, head, 8);
    EXPECT_EQ(download<uint32_t>(b), (std::vector<uint32_t>{9, 8, 3, 4}));
    renderer->destroyBuffer(b);
}

TEST_F(BufferTest, DeviceBufferIsAddressableAndACopyTarget) {
    // Without the device-address and transfer-destination usages added by
    // createDeviceBuffer, the address query and the upload below are invalid
    // and the validation layer fails the test.
    AllocatedBuffer b = renderer->createDeviceBuffer(64, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    EXPECT_NE(renderer->getBufferAddress(b.buffer), 0u);
    const std::vector<uint8_t> bytes(64, 0x5A);
    renderer->uploadBuffer(b, bytes.data(), bytes.size());
    renderer->destroyBuffer(b);
}

TEST_F(BufferTest, DistinctBuffersHaveDistinctAddresses) {
    AllocatedBuffer a = renderer->createDeviceBuffer(256, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    AllocatedBuffer b = renderer->createDeviceBuffer(256, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    const VkDeviceAddress aa = renderer->getBufferAddress(a.buffer);
    const VkDeviceAddress ba = renderer->getBufferAddress(b.buffer);
    EXPECT_TRUE(aa + 256 <= ba || ba + 256 <= aa);
    renderer->destroyBuffer(a);
    renderer->destroyBuffer(b);
}

TEST_F(BufferTest, HostVisibleBufferMapsAndKeepsItsBytes) {
    AllocatedBuffer b = renderer->createBuffer(
        32, VK_BUFFER_USAGE_TRANSFER_SRC_BIT,
        VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT);
    void* mapped = nullptr;
    ASSERT_EQ(vmaMapMemory(renderer->allocator, b.allocation, &mapped), VK_SUCCESS);
    std::memset(mapped, 0x3C, 32);
    vmaUnmapMemory(renderer->allocator, b.allocation);
    AllocatedBuffer d = renderer->createDeviceBuffer(32, VK_BUFFER_USAGE_TRANSFER_SRC_BIT);
    VkCommandBuffer cmd = renderer->beginSingleTimeCommands();
    VkBufferCopy region{0, 0, 32};
    vkCmdCopyBuffer(cmd, b.buffer, d.buffer, 1, &region);
    renderer->endSingleTimeCommands(cmd);
    EXPECT_EQ(download<uint8_t>(d), std::vector<uint8_t>(32, 0x3C));
    renderer->destroyBuffer(b);
    renderer->destroyBuffer(d);
}

TEST_F(BufferTest, ZeroSizesAreRefusedOrIgnored) {
    EXPECT_THROW(renderer->createDeviceBuffer(0, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT),
                 std::runtime_error);
    AllocatedBuffer b = renderer->createDeviceBuffer(4, VK_BUFFER_USAGE_TRANSFER_SRC_BIT);
    const uint32_t value = 42;
    renderer->uploadBuffer(b, &value, 4);
    renderer->uploadBuffer(b, nullptr, 0);
    EXPECT_EQ(download<uint32_t>(b), std::vector<uint32_t>{42u});
    renderer->destroyBuffer(b);
}

TEST_F(BufferTest, DestroyEmptiesTheRecordAndRepeatsHarmlessly) {
    AllocatedBuffer empty;
    renderer->destroyBuffer(empty);
    AllocatedBuffer b = renderer->createDeviceBuffer(8, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    renderer->destroyBuffer(b);
    EXPECT_EQ(b.buffer, VK_NULL_HANDLE);
    EXPECT_EQ(b.allocation, nullptr);
    EXPECT_EQ(b.size, 0u);
    renderer->destroyBuffer(b);
}

TEST_F(BufferTest, OneShotCommandsRunInOrderOnTheSingleFence) {
    AllocatedBuffer b = renderer->createDeviceBuffer(16, VK_BUFFER_USAGE_TRANSFER_SRC_BIT);
    for (uint32_t round = 1; round <= 3; ++round) {
        VkCommandBuffer cmd = renderer->beginSingleTimeCommands();
        vkCmdFillBuffer(cmd, b.buffer, 0, VK_WHOLE_SIZE, round);
        renderer->endSingleTimeCommands(cmd);
        EXPECT_EQ(download<uint32_t>(b), std::vector<uint32_t>(4, round));
    }
    renderer->destroyBuffer(b);
}

TEST_F(BufferTest, FailedCreationThrowsTheVulkanErrorText) {
    // A size no allocator can satisfy.
    try {
        renderer->createDeviceBuffer(VkDeviceSize{1} << 62, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
        FAIL() << "allocation of 4 EiB succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(std::string(e.what()), ::testing::MatchesRegex("Vulkan error -[0-9]+ at vk_renderer:[0-9]+"));
    }
}

}  // namespace

namespace {

// The harness itself: an invalid command must reach the counter, or every
// "no validation message" check above would be vacuous.
TEST_F(BufferTest, ValidationLayerReportsInvalidUse) {
    AllocatedBuffer b = renderer->createDeviceBuffer(16, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    ::testing::internal::CaptureStderr();
    VkCommandBuffer cmd = renderer->beginSingleTimeCommands();
    vkCmdFillBuffer(cmd, b.buffer, 2, 4, 0);  // offset must be a multiple of 4
    renderer->endSingleTimeCommands(cmd);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_GT(renderer->validationMessageCount.load(), 0u);
    EXPECT_THAT(err, ::testing::HasSubstr("[Vulkan] "));
    renderer->validationMessageCount = 0;
    renderer->destroyBuffer(b);
}

}  // namespace
