#include "compute_harness.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {
constexpr uint32_t kMaxPushBytes = 128;
constexpr int kDeviceIndex = 0;
}  // namespace

std::string shader_include_dir() { return VITREL_SHADER_SOURCE_DIR; }

GpuBuffer::GpuBuffer(ComputeHarness& harness, size_t bytes)
    : renderer_(harness.renderer()), bytes_(std::max<size_t>(bytes, 4)) {
    buffer_ = renderer_.createDeviceBuffer(
        bytes_, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT | VK_BUFFER_USAGE_TRANSFER_SRC_BIT);
    const std::vector<uint8_t> zeros(bytes_, 0);
    try {
        renderer_.uploadBuffer(buffer_, zeros.data(), bytes_);
    } catch (...) {
        renderer_.destroyBuffer(buffer_);
        throw;
    }
}

GpuBuffer::~GpuBuffer() { renderer_.destroyBuffer(buffer_); }

void GpuBuffer::writeBytes(const void* data, size_t bytes) {
    renderer_.uploadBuffer(buffer_, data, bytes);
}

void GpuBuffer::readBytes(void* data, size_t bytes) const {
    renderer_.downloadBuffer(buffer_, data, bytes);
}

ComputeHarness::ComputeHarness() {
    renderer_.synchronizationValidation = true;
    renderer_.init(true, kDeviceIndex);
}

ComputeHarness::~ComputeHarness() {
    programs_.clear();
    renderer_.destroy();
}

size_t ComputeHarness::compile(const std::string& source, const std::string& name,
                               uint32_t bindings, const std::vector<std::string>& macros) {
    std::vector<std::pair<uint32_t, VkDescriptorType>> layout;
    for (uint32_t b = 0; b < bindings; ++b) layout.emplace_back(b, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER);
    programs_.push_back(std::make_unique<ComputeProgram>(renderer_, layout, source, name, shader_include_dir(),
                                                         macros, kMaxPushBytes));
    return programs_.size() - 1;
}

void ComputeHarness::dispatch(size_t program, const std::vector<const GpuBuffer*>& buffers,
                              uint32_t groups, const void* push, uint32_t pushBytes) {
    ComputeProgram& p = *programs_.at(program);
    if (pushBytes > kMaxPushBytes) throw std::runtime_error("push block too large");
    const VkDescriptorSet set = p.allocateSet();
    for (size_t b = 0; b < buffers.size(); ++b) p.writeBuffer(set, static_cast<uint32_t>(b), buffers[b]->handle());
    // Uploads before the dispatch and read-backs after it are separate
    // waited submissions, so no barrier is needed around this one.
    VkCommandBuffer cmd = renderer_.beginSingleTimeCommands();
    vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, p.pipeline);
    vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, p.layout, 0, 1, &set, 0, nullptr);
    unsigned char pushData[kMaxPushBytes] = {};
    if (push) std::memcpy(pushData, push, pushBytes);
    vkCmdPushConstants(cmd, p.layout, VK_SHADER_STAGE_COMPUTE_BIT, 0, kMaxPushBytes, pushData);
    vkCmdDispatch(cmd, groups, 1, 1);
    renderer_.endSingleTimeCommands(cmd);
    vkFreeDescriptorSets(renderer_.device, p.pool, 1, &set);
}
