// Buffers, memory and one-shot commands on the real device.
#include <gtest/gtest.h>

#include <memory>
#include <numeric>

#include "gpu_test_support.h"
#include "ray_probe.h"

namespace {

using BufferTest = GpuTest;

// Each case uploads in order into a fresh device buffer of `words` words
// and reads the whole buffer back.
TEST_F(BufferTest, UploadsRoundTripByteForByte) {
    std::vector<uint32_t> large(1 << 18);
    std::iota(large.begin(), large.end(), 7u);
    const struct {
        const char* what;
        size_t words;
        std::vector<std::vector<uint32_t>> uploads;
        std::vector<uint32_t> expected;
    } cases[] = {
        {"four bytes", 1, {{0xDEADBEEFu}}, {0xDEADBEEFu}},
        {"a megabyte", large.size(), {large}, large},
        {"a partial upload leaves the tail alone", 4, {{1, 2, 3, 4}, {9, 8}}, {9, 8, 3, 4}},
        {"an empty upload changes nothing", 1, {{42}, {}}, {42}},
    };
    for (const auto& c : cases) {
        AllocatedBuffer b = renderer->createDeviceBuffer(
            c.words * 4, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT);
        EXPECT_EQ(b.size, c.words * 4) << c.what;
        for (const std::vector<uint32_t>& u : c.uploads)
            renderer->uploadBuffer(b, u.empty() ? nullptr : u.data(), u.size() * 4);
        EXPECT_EQ(download<uint32_t>(b), c.expected) << c.what;
        renderer->destroyBuffer(b);
    }
}

TEST_F(BufferTest, DeviceBuffersAreAddressableDisjointCopyTargets) {
    // Without the device-address and transfer-destination usages added by
    // createDeviceBuffer, the address query and the upload below are invalid
    // and the validation layer fails the test.
    AllocatedBuffer a = renderer->createDeviceBuffer(256, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    AllocatedBuffer b = renderer->createDeviceBuffer(256, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    const VkDeviceAddress aa = renderer->getBufferAddress(a.buffer);
    const VkDeviceAddress ba = renderer->getBufferAddress(b.buffer);
    EXPECT_NE(aa, 0u);
    EXPECT_TRUE(aa + 256 <= ba || ba + 256 <= aa);
    const std::vector<uint8_t> bytes(256, 0x5A);
    renderer->uploadBuffer(a, bytes.data(), bytes.size());
    renderer->destroyBuffer(a);
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

TEST_F(BufferTest, ZeroAndImpossibleSizesAreRefused) {
    EXPECT_THROW(renderer->createDeviceBuffer(0, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT),
                 std::runtime_error);
    EXPECT_THROW(renderer->createReadbackBuffer(0), std::runtime_error);
    // A size no allocator can satisfy.
    try {
        renderer->createDeviceBuffer(VkDeviceSize{1} << 62, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
        FAIL() << "allocation of 4 EiB succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_THAT(std::string(e.what()),
                    ::testing::MatchesRegex("Vulkan error -[0-9]+ at vk_renderer:[0-9]+"));
    }
}

TEST_F(BufferTest, ReadbackMemoryIsForRandomHostReadsAndUploadsForSequentialWrites) {
    const VmaAllocationCreateInfo read =
        host_allocation_create_info(HostAccess::RandomRead, VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT);
    const VmaAllocationCreateInfo write = host_allocation_create_info(
        HostAccess::SequentialWrite, VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT);
    EXPECT_NE(read.flags & VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT, 0u);
    EXPECT_EQ(read.flags & VMA_ALLOCATION_CREATE_HOST_ACCESS_SEQUENTIAL_WRITE_BIT, 0u);
    EXPECT_NE(write.flags & VMA_ALLOCATION_CREATE_HOST_ACCESS_SEQUENTIAL_WRITE_BIT, 0u);
    EXPECT_EQ(write.flags & VMA_ALLOCATION_CREATE_HOST_ACCESS_RANDOM_BIT, 0u);

    // On the device: read-back memory is mapped and coherent, and cached
    // whenever the device has cached coherent host memory at all.
    const VkPhysicalDeviceMemoryProperties* memory = nullptr;
    vmaGetMemoryProperties(renderer->allocator, &memory);
    const VkMemoryPropertyFlags cachedCoherent = VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT |
                                                 VK_MEMORY_PROPERTY_HOST_COHERENT_BIT |
                                                 VK_MEMORY_PROPERTY_HOST_CACHED_BIT;
    bool deviceHasCached = false;
    for (uint32_t i = 0; i < memory->memoryTypeCount; ++i)
        deviceHasCached |=
            (memory->memoryTypes[i].propertyFlags & cachedCoherent) == cachedCoherent;
    AllocatedBuffer b = renderer->createReadbackBuffer(64);
    VmaAllocationInfo info{};
    vmaGetAllocationInfo(renderer->allocator, b.allocation, &info);
    EXPECT_NE(info.pMappedData, nullptr);
    VkMemoryPropertyFlags flags = 0;
    vmaGetAllocationMemoryProperties(renderer->allocator, b.allocation, &flags);
    const VkMemoryPropertyFlags wanted = deviceHasCached ? cachedCoherent
                                                         : VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT |
                                                               VK_MEMORY_PROPERTY_HOST_COHERENT_BIT;
    EXPECT_EQ(flags & wanted, wanted);
    renderer->destroyBuffer(b);
}

// Upload, a compute pass and read-back recorded into one command buffer, so
// only the barriers the copies record order them: synchronisation validation
// reports any access they leave unordered.
class OneCommandBufferTest : public GpuTest {
protected:
    static constexpr uint32_t kCount = 64;
    static constexpr VkDeviceSize kBytes = kCount * sizeof(uint32_t);

    void SetUp() override {
        GpuTest::SetUp();
        const VkBufferUsageFlags usage =
            VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT;
        input = renderer->createDeviceBuffer(kBytes, usage);
        output = renderer->createDeviceBuffer(kBytes, usage);
        for (AllocatedBuffer& s : staging)
            s = renderer->createBuffer(
                kBytes, VK_BUFFER_USAGE_TRANSFER_SRC_BIT,
                VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT);
        for (AllocatedBuffer& r : readback) r = renderer->createReadbackBuffer(kBytes);
        // output[i] = 2 * input[i] + 1.
        doubling = std::make_unique<ComputeProgram>(
            *renderer,
            std::vector<std::pair<uint32_t, VkDescriptorType>>{{0, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER},
                                                               {1, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER}},
            R"(#version 460
layout(local_size_x = 64) in;
layout(set = 0, binding = 0) readonly buffer In { uint a[]; };
layout(set = 0, binding = 1) writeonly buffer Out { uint b[]; };
void main() { b[gl_GlobalInvocationID.x] = 2u * a[gl_GlobalInvocationID.x] + 1u; }
)",
            "doubling.comp", "");
        set = doubling->allocateSet();
        doubling->writeBuffer(set, 0, input.buffer);
        doubling->writeBuffer(set, 1, output.buffer);
    }
    void TearDown() override {
        doubling.reset();
        for (AllocatedBuffer* b :
             {&input, &output, &staging[0], &staging[1], &readback[0], &readback[1]})
            renderer->destroyBuffer(*b);
        GpuTest::TearDown();
    }

    void fillStaging(const AllocatedBuffer& s, uint32_t first) {
        VmaAllocationInfo info{};
        vmaGetAllocationInfo(renderer->allocator, s.allocation, &info);
        std::iota(static_cast<uint32_t*>(info.pMappedData),
                  static_cast<uint32_t*>(info.pMappedData) + kCount, first);
    }
    std::vector<uint32_t> readBack(const AllocatedBuffer& r) {
        VmaAllocationInfo info{};
        vmaGetAllocationInfo(renderer->allocator, r.allocation, &info);
        const uint32_t* words = static_cast<const uint32_t*>(info.pMappedData);
        return std::vector<uint32_t>(words, words + kCount);
    }
    void dispatch(VkCommandBuffer cmd) {
        vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, doubling->pipeline);
        vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, doubling->layout, 0, 1, &set, 0,
                                nullptr);
        vkCmdDispatch(cmd, 1, 1, 1);
    }
    static std::vector<uint32_t> doubled(uint32_t first) {
        std::vector<uint32_t> out(kCount);
        for (uint32_t i = 0; i < kCount; ++i) out[i] = 2 * (first + i) + 1;
        return out;
    }

    AllocatedBuffer input, output, staging[2], readback[2];
    std::unique_ptr<ComputeProgram> doubling;
    VkDescriptorSet set = VK_NULL_HANDLE;
};

TEST_F(OneCommandBufferTest, UploadComputeAndReadbackTwiceWithoutHazards) {
    ASSERT_TRUE(renderer->synchronizationValidation);
    fillStaging(staging[0], 10);
    fillStaging(staging[1], 500);
    VkCommandBuffer cmd = renderer->beginSingleTimeCommands();
    // The second round overwrites what the first one's shader read and wrote
    // and its read-back copied: every kind of hazard between the two.
    for (int round = 0; round < 2; ++round) {
        VkRenderer::recordUpload(cmd, staging[round].buffer, input.buffer, kBytes);
        dispatch(cmd);
        VkRenderer::recordDownload(cmd, output.buffer, readback[round].buffer, kBytes);
    }
    renderer->endSingleTimeCommands(cmd);
    EXPECT_EQ(readBack(readback[0]), doubled(10));
    EXPECT_EQ(readBack(readback[1]), doubled(500));
}

// Without the barriers the same recording is a hazard, and synchronisation
// validation must say so, or the test above would prove nothing.
TEST_F(OneCommandBufferTest, UnorderedCopiesAreReportedAsHazards) {
    fillStaging(staging[0], 10);
    ::testing::internal::CaptureStderr();
    VkCommandBuffer cmd = renderer->beginSingleTimeCommands();
    const VkBufferCopy region{0, 0, kBytes};
    vkCmdCopyBuffer(cmd, staging[0].buffer, input.buffer, 1, &region);
    dispatch(cmd);
    vkCmdCopyBuffer(cmd, output.buffer, readback[0].buffer, 1, &region);
    renderer->endSingleTimeCommands(cmd);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_GT(renderer->validationMessageCount.load(), 0u);
    EXPECT_THAT(err, ::testing::HasSubstr("SYNC-HAZARD-READ-AFTER-WRITE"));
    renderer->validationMessageCount = 0;
}

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
