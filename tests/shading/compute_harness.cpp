#include "compute_harness.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "gpu/vk_check.h"

namespace {
constexpr int kComputeKind = 2;  // shaderc_compute_shader
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

ComputeHarness::~ComputeHarness() { release(); }

void ComputeHarness::release() {
    if (renderer_.device) {
        vkDeviceWaitIdle(renderer_.device);
        for (Program& p : programs_) {
            vkDestroyPipeline(renderer_.device, p.pipeline, nullptr);
            vkDestroyPipelineLayout(renderer_.device, p.layout, nullptr);
            vkDestroyDescriptorSetLayout(renderer_.device, p.setLayout, nullptr);
        }
    }
    programs_.clear();
    renderer_.destroy();
}

size_t ComputeHarness::compile(const std::string& source, const std::string& name,
                               uint32_t bindings, const std::vector<std::string>& macros) {
    VkDevice device = renderer_.device;
    VkShaderModule module =
        renderer_.compileGlslToSpirv(source, name, kComputeKind, shader_include_dir(), macros);
    Program p;
    p.bindings = bindings;
    try {
        std::vector<VkDescriptorSetLayoutBinding> layoutBindings(bindings);
        for (uint32_t b = 0; b < bindings; ++b) {
            layoutBindings[b] = {b, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1,
                                 VK_SHADER_STAGE_COMPUTE_BIT, nullptr};
        }
        VkDescriptorSetLayoutCreateInfo setInfo{};
        setInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO;
        setInfo.bindingCount = bindings;
        setInfo.pBindings = layoutBindings.data();
        VK_CHECK(vkCreateDescriptorSetLayout(device, &setInfo, nullptr, &p.setLayout));
        VkPushConstantRange range{VK_SHADER_STAGE_COMPUTE_BIT, 0, kMaxPushBytes};
        VkPipelineLayoutCreateInfo layoutInfo{};
        layoutInfo.sType = VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO;
        layoutInfo.setLayoutCount = 1;
        layoutInfo.pSetLayouts = &p.setLayout;
        layoutInfo.pushConstantRangeCount = 1;
        layoutInfo.pPushConstantRanges = &range;
        VK_CHECK(vkCreatePipelineLayout(device, &layoutInfo, nullptr, &p.layout));
        VkComputePipelineCreateInfo pipeInfo{};
        pipeInfo.sType = VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO;
        pipeInfo.stage.sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
        pipeInfo.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
        pipeInfo.stage.module = module;
        pipeInfo.stage.pName = "main";
        pipeInfo.layout = p.layout;
        VK_CHECK(vkCreateComputePipelines(device, VK_NULL_HANDLE, 1, &pipeInfo, nullptr,
                                          &p.pipeline));
    } catch (...) {
        vkDestroyPipelineLayout(device, p.layout, nullptr);
        vkDestroyDescriptorSetLayout(device, p.setLayout, nullptr);
        vkDestroyShaderModule(device, module, nullptr);
        throw;
    }
    vkDestroyShaderModule(device, module, nullptr);
    programs_.push_back(p);
    return programs_.size() - 1;
}

void ComputeHarness::dispatch(size_t program, const std::vector<const GpuBuffer*>& buffers,
                              uint32_t groups, const void* push, uint32_t pushBytes) {
    const Program& p = programs_.at(program);
    if (buffers.size() != p.bindings) throw std::runtime_error("binding count mismatch");
    if (pushBytes > kMaxPushBytes) throw std::runtime_error("push block too large");
    VkDevice device = renderer_.device;

    VkDescriptorPoolSize poolSize{VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, std::max(p.bindings, 1u)};
    VkDescriptorPoolCreateInfo poolInfo{};
    poolInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO;
    poolInfo.maxSets = 1;
    poolInfo.poolSizeCount = 1;
    poolInfo.pPoolSizes = &poolSize;
    VkDescriptorPool descriptorPool = VK_NULL_HANDLE;
    VK_CHECK(vkCreateDescriptorPool(device, &poolInfo, nullptr, &descriptorPool));
    try {
        VkDescriptorSetAllocateInfo setAlloc{};
        setAlloc.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
        setAlloc.descriptorPool = descriptorPool;
        setAlloc.descriptorSetCount = 1;
        setAlloc.pSetLayouts = &p.setLayout;
        VkDescriptorSet set = VK_NULL_HANDLE;
        VK_CHECK(vkAllocateDescriptorSets(device, &setAlloc, &set));
        std::vector<VkDescriptorBufferInfo> infos(buffers.size());
        std::vector<VkWriteDescriptorSet> writes(buffers.size());
        for (size_t b = 0; b < buffers.size(); ++b) {
            infos[b] = {buffers[b]->handle(), 0, buffers[b]->size()};
            writes[b] = {};
            writes[b].sType = VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET;
            writes[b].dstSet = set;
            writes[b].dstBinding = static_cast<uint32_t>(b);
            writes[b].descriptorCount = 1;
            writes[b].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
            writes[b].pBufferInfo = &infos[b];
        }
        vkUpdateDescriptorSets(device, static_cast<uint32_t>(writes.size()), writes.data(), 0,
                               nullptr);

        // Uploads before the dispatch and read-backs after it are separate
        // waited submissions, so no barrier is needed around this one.
        VkCommandBuffer cmd = renderer_.beginSingleTimeCommands();
        vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, p.pipeline);
        vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, p.layout, 0, 1, &set, 0,
                                nullptr);
        unsigned char pushData[kMaxPushBytes] = {};
        if (push) std::memcpy(pushData, push, pushBytes);
        vkCmdPushConstants(cmd, p.layout, VK_SHADER_STAGE_COMPUTE_BIT, 0, kMaxPushBytes, pushData);
        vkCmdDispatch(cmd, groups, 1, 1);
        renderer_.endSingleTimeCommands(cmd);
    } catch (...) {
        vkDestroyDescriptorPool(device, descriptorPool, nullptr);
        throw;
    }
    vkDestroyDescriptorPool(device, descriptorPool, nullptr);
}
