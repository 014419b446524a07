// Per-pass GPU timing: one timestamp at the start of a command buffer and
// one after every pass, so that consecutive stamps bracket one pass each
// (a bottom-of-pipe stamp is written once everything recorded before it
// has finished, and the passes are ordered by barriers). The queries are
// reset inside the same command buffer before their first write and read
// only after the submission's fence.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "gpu/vk_check.h"
#include "gpu/vk_renderer.h"

namespace {

constexpr double kNanosecondsPerMillisecond = 1.0e6;
// Pools grow in steps so that a wider image does not recreate them per row.
constexpr uint32_t kMinTimestampCapacity = 64;

struct TimestampSupport {
    uint32_t validBits = 0;
    double periodNs = 0.0;
};

// timestampComputeAndGraphics only promises timestamps on every graphics and
// compute queue; the queue family's valid-bit count is the answer for the
// one queue the renderer uses (0: no timestamps there).
TimestampSupport timestamp_support(VkPhysicalDevice physicalDevice, uint32_t queueFamily) {
    TimestampSupport support;
    if (physicalDevice == VK_NULL_HANDLE) return support;
    uint32_t familyCount = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(physicalDevice, &familyCount, nullptr);
    std::vector<VkQueueFamilyProperties> families(familyCount);
    vkGetPhysicalDeviceQueueFamilyProperties(physicalDevice, &familyCount, families.data());
    if (queueFamily >= familyCount) return support;
    VkPhysicalDeviceProperties properties{};
    vkGetPhysicalDeviceProperties(physicalDevice, &properties);
    support.validBits = families[queueFamily].timestampValidBits;
    support.periodNs = static_cast<double>(properties.limits.timestampPeriod);
    if (support.periodNs <= 0.0) support.validBits = 0;
    return support;
}

}  // namespace

bool VkRenderer::passTimingSupported() const {
    return timestamp_support(physicalDevice, queueFamily).validBits > 0;
}

void VkRenderer::resetPassTimings() { passTimings = GpuPassTimings{}; }

void VkRenderer::beginPassTimestamps(VkCommandBuffer cmd, uint32_t passes) {
    timestampsOpen = 0;
    stampedPasses.clear();
    if (!passTiming || device == VK_NULL_HANDLE) return;
    const uint32_t needed = passes + 1;
    if (timestampPool == VK_NULL_HANDLE || timestampCapacity < needed) {
        const TimestampSupport support = timestamp_support(physicalDevice, queueFamily);
        if (support.validBits == 0) return;
        // Every earlier submission was waited for, so the old pool is idle.
        destroyPassTiming();
        VkQueryPoolCreateInfo info{};
        info.sType = VK_STRUCTURE_TYPE_QUERY_POOL_CREATE_INFO;
        info.queryType = VK_QUERY_TYPE_TIMESTAMP;
        info.queryCount = std::max(kMinTimestampCapacity, std::bit_ceil(needed));
        // Timing is a diagnostic: without a pool the passes run untimed
        // rather than fail, and the command buffer being recorded is not
        // abandoned.
        if (vkCreateQueryPool(device, &info, nullptr, &timestampPool) != VK_SUCCESS) {
            timestampPool = VK_NULL_HANDLE;
            return;
        }
        timestampCapacity = info.queryCount;
        timestampPeriodNs = support.periodNs;
        timestampMask = support.validBits >= 64 ? ~uint64_t{0}
                                                : (uint64_t{1} << support.validBits) - 1;
    }
    vkCmdResetQueryPool(cmd, timestampPool, 0, needed);
    vkCmdWriteTimestamp(cmd, VK_PIPELINE_STAGE_BOTTOM_OF_PIPE_BIT, timestampPool, 0);
    timestampsOpen = needed;
    stampedPasses.reserve(passes);
}

void VkRenderer::stampPass(VkCommandBuffer cmd, GpuPass pass) {
    const uint32_t query = static_cast<uint32_t>(stampedPasses.size()) + 1;
    if (query >= timestampsOpen) return;
    vkCmdWriteTimestamp(cmd, VK_PIPELINE_STAGE_BOTTOM_OF_PIPE_BIT, timestampPool, query);
    stampedPasses.push_back(pass);
}

void VkRenderer::collectPassTimestamps() {
    if (timestampsOpen == 0 || stampedPasses.empty()) return;
    const uint32_t count = static_cast<uint32_t>(stampedPasses.size()) + 1;
    std::vector<uint64_t> ticks(count);
    VK_CHECK(vkGetQueryPoolResults(device, timestampPool, 0, count, count * sizeof(uint64_t),
                                   ticks.data(), sizeof(uint64_t),
                                   VK_QUERY_RESULT_64_BIT | VK_QUERY_RESULT_WAIT_BIT));
    for (uint32_t i = 0; i + 1 < count; ++i) {
        // Masked so that a counter that wrapped within the pass still gives
        // the right difference.
        const uint64_t elapsed = (ticks[i + 1] - ticks[i]) & timestampMask;
        const uint32_t k = static_cast<uint32_t>(stampedPasses[i]);
        passTimings.milliseconds[k] +=
            static_cast<double>(elapsed) * timestampPeriodNs / kNanosecondsPerMillisecond;
        ++passTimings.dispatches[k];
    }
    timestampsOpen = 0;
    stampedPasses.clear();
}

void VkRenderer::destroyPassTiming() {
    if (timestampPool != VK_NULL_HANDLE) vkDestroyQueryPool(device, timestampPool, nullptr);
    timestampPool = VK_NULL_HANDLE;
    timestampCapacity = 0;
    timestampsOpen = 0;
    stampedPasses.clear();
}
