#include "compute_harness.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "gpu/shader_compiler.h"

namespace {
constexpr int kComputeKind = 2;  // shaderc_compute_shader
constexpr uint32_t kMaxPushBytes = 128;
constexpr uint64_t kWaitForeverNs = ~0ull;
}  // namespace

void harness_check(VkResult result, const char* file, int line) {
    if (result == VK_SUCCESS) return;
    throw std::runtime_error("Vulkan error " + std::to_string(static_cast<int>(result)) + " at " +
                             file + ":" + std::to_string(line));
}

std::string shader_include_dir() { return VITREL_SHADER_SOURCE_DIR; }

HostBuffer::HostBuffer(ComputeHarness& harness, size_t bytes)
    : device_(harness.device()), bytes_(std::max<size_t>(bytes, 4)) {
    VkBufferCreateInfo info{};
    info.sType = VK_STRUCTURE_TYPE_BUFFER_CREATE_INFO;
    info.size = bytes_;
    info.usage = VK_BUFFER_USAGE_STORAGE_BUFFER_BIT;
    info.sharingMode = VK_SHARING_MODE_EXCLUSIVE;
    HARNESS_CHECK(vkCreateBuffer(device_, &info, nullptr, &buffer_));
    VkMemoryRequirements req;
    vkGetBufferMemoryRequirements(device_, buffer_, &req);
    VkMemoryAllocateInfo alloc{};
    alloc.sType = VK_STRUCTURE_TYPE_MEMORY_ALLOCATE_INFO;
    alloc.allocationSize = req.size;
    alloc.memoryTypeIndex = harness.memoryTypeFor(
        req.memoryTypeBits,
        VK_MEMORY_PROPERTY_HOST_VISIBLE_BIT | VK_MEMORY_PROPERTY_HOST_COHERENT_BIT);
    HARNESS_CHECK(vkAllocateMemory(device_, &alloc, nullptr, &memory_));
    HARNESS_CHECK(vkBindBufferMemory(device_, buffer_, memory_, 0));
    HARNESS_CHECK(vkMapMemory(device_, memory_, 0, VK_WHOLE_SIZE, 0, &mapped_));
    std::memset(mapped_, 0, bytes_);
}

HostBuffer::~HostBuffer() {
    if (mapped_) vkUnmapMemory(device_, memory_);
    vkDestroyBuffer(device_, buffer_, nullptr);
    vkFreeMemory(device_, memory_, nullptr);
}

VKAPI_ATTR VkBool32 VKAPI_CALL ComputeHarness::onMessage(
    VkDebugUtilsMessageSeverityFlagBitsEXT severity, VkDebugUtilsMessageTypeFlagsEXT,
    const VkDebugUtilsMessengerCallbackDataEXT* data, void* user) {
    if (severity >= VK_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT) {
        std::fprintf(stderr, "[Vulkan] %s\n", data->pMessage);
        ++static_cast<ComputeHarness*>(user)->validationMessages_;
    }
    return VK_FALSE;
}

ComputeHarness::ComputeHarness() {
    VkApplicationInfo app{};
    app.sType = VK_STRUCTURE_TYPE_APPLICATION_INFO;
    app.pApplicationName = "vitrel shading tests";
    app.apiVersion = VK_API_VERSION_1_2;
    const char* layers[] = {"VK_LAYER_KHRONOS_validation"};
    const char* extensions[] = {VK_EXT_DEBUG_UTILS_EXTENSION_NAME};
    VkDebugUtilsMessengerCreateInfoEXT messengerInfo{};
    messengerInfo.sType = VK_STRUCTURE_TYPE_DEBUG_UTILS_MESSENGER_CREATE_INFO_EXT;
    messengerInfo.messageSeverity = VK_DEBUG_UTILS_MESSAGE_SEVERITY_WARNING_BIT_EXT |
                                    VK_DEBUG_UTILS_MESSAGE_SEVERITY_ERROR_BIT_EXT;
    messengerInfo.messageType = VK_DEBUG_UTILS_MESSAGE_TYPE_GENERAL_BIT_EXT |
                                VK_DEBUG_UTILS_MESSAGE_TYPE_VALIDATION_BIT_EXT |
                                VK_DEBUG_UTILS_MESSAGE_TYPE_PERFORMANCE_BIT_EXT;
    messengerInfo.pfnUserCallback = &ComputeHarness::onMessage;
    messengerInfo.pUserData = this;
    VkInstanceCreateInfo instanceInfo{};
    instanceInfo.sType = VK_STRUCTURE_TYPE_INSTANCE_CREATE_INFO;
    instanceInfo.pNext = &messengerInfo;
    instanceInfo.pApplicationInfo = &app;
    instanceInfo.enabledLayerCount = 1;
    instanceInfo.ppEnabledLayerNames = layers;
    instanceInfo.enabledExtensionCount = 1;
    instanceInfo.ppEnabledExtensionNames = extensions;
    HARNESS_CHECK(vkCreateInstance(&instanceInfo, nullptr, &instance_));
    auto createMessenger = reinterpret_cast<PFN_vkCreateDebugUtilsMessengerEXT>(
        vkGetInstanceProcAddr(instance_, "vkCreateDebugUtilsMessengerEXT"));
    if (!createMessenger) throw std::runtime_error("debug utils unavailable");
    HARNESS_CHECK(createMessenger(instance_, &messengerInfo, nullptr, &messenger_));

    uint32_t count = 0;
    HARNESS_CHECK(vkEnumeratePhysicalDevices(instance_, &count, nullptr));
    std::vector<VkPhysicalDevice> devices(count);
    HARNESS_CHECK(vkEnumeratePhysicalDevices(instance_, &count, devices.data()));
    if (devices.empty()) throw std::runtime_error("no Vulkan device");
    physical_ = devices[0];
    for (VkPhysicalDevice d : devices) {
        VkPhysicalDeviceProperties props;
        vkGetPhysicalDeviceProperties(d, &props);
        if (props.deviceType == VK_PHYSICAL_DEVICE_TYPE_CPU) {
            physical_ = d;
            break;
        }
    }
    uint32_t familyCount = 0;
    vkGetPhysicalDeviceQueueFamilyProperties(physical_, &familyCount, nullptr);
    std::vector<VkQueueFamilyProperties> families(familyCount);
    vkGetPhysicalDeviceQueueFamilyProperties(physical_, &familyCount, families.data());
    queueFamily_ = familyCount;
    for (uint32_t f = 0; f < familyCount; ++f) {
        if (families[f].queueFlags & VK_QUEUE_COMPUTE_BIT) {
            queueFamily_ = f;
            break;
        }
    }
    if (queueFamily_ == familyCount) throw std::runtime_error("no compute queue");
    const float priority = 1.0f;
    VkDeviceQueueCreateInfo queueInfo{};
    queueInfo.sType = VK_STRUCTURE_TYPE_DEVICE_QUEUE_CREATE_INFO;
    queueInfo.queueFamilyIndex = queueFamily_;
    queueInfo.queueCount = 1;
    queueInfo.pQueuePriorities = &priority;
    VkDeviceCreateInfo deviceInfo{};
    deviceInfo.sType = VK_STRUCTURE_TYPE_DEVICE_CREATE_INFO;
    deviceInfo.queueCreateInfoCount = 1;
    deviceInfo.pQueueCreateInfos = &queueInfo;
    HARNESS_CHECK(vkCreateDevice(physical_, &deviceInfo, nullptr, &device_));
    vkGetDeviceQueue(device_, queueFamily_, 0, &queue_);
    VkCommandPoolCreateInfo poolInfo{};
    poolInfo.sType = VK_STRUCTURE_TYPE_COMMAND_POOL_CREATE_INFO;
    poolInfo.queueFamilyIndex = queueFamily_;
    HARNESS_CHECK(vkCreateCommandPool(device_, &poolInfo, nullptr, &pool_));
    VkFenceCreateInfo fenceInfo{};
    fenceInfo.sType = VK_STRUCTURE_TYPE_FENCE_CREATE_INFO;
    HARNESS_CHECK(vkCreateFence(device_, &fenceInfo, nullptr, &fence_));
}

ComputeHarness::~ComputeHarness() {
    if (device_) {
        vkDeviceWaitIdle(device_);
        for (Program& p : programs_) {
            vkDestroyPipeline(device_, p.pipeline, nullptr);
            vkDestroyPipelineLayout(device_, p.layout, nullptr);
            vkDestroyDescriptorSetLayout(device_, p.setLayout, nullptr);
            vkDestroyShaderModule(device_, p.module, nullptr);
        }
        vkDestroyFence(device_, fence_, nullptr);
        vkDestroyCommandPool(device_, pool_, nullptr);
        vkDestroyDevice(device_, nullptr);
    }
    if (messenger_) {
        auto destroyMessenger = reinterpret_cast<PFN_vkDestroyDebugUtilsMessengerEXT>(
            vkGetInstanceProcAddr(instance_, "vkDestroyDebugUtilsMessengerEXT"));
        if (destroyMessenger) destroyMessenger(instance_, messenger_, nullptr);
    }
    if (instance_) vkDestroyInstance(instance_, nullptr);
}

uint32_t ComputeHarness::memoryTypeFor(uint32_t typeBits, VkMemoryPropertyFlags flags) const {
    VkPhysicalDeviceMemoryProperties props;
    vkGetPhysicalDeviceMemoryProperties(physical_, &props);
    for (uint32_t t = 0; t < props.memoryTypeCount; ++t) {
        if ((typeBits & (1u << t)) && (props.memoryTypes[t].propertyFlags & flags) == flags)
            return t;
    }
    throw std::runtime_error("no host-visible memory type");
}

size_t ComputeHarness::compile(const std::string& source, const std::string& name,
                               uint32_t bindings, const std::vector<std::string>& macros) {
    const std::vector<uint32_t> words =
        compile_glsl_words(source, name, kComputeKind, shader_include_dir(), macros, nullptr);
    Program p;
    p.bindings = bindings;
    VkShaderModuleCreateInfo moduleInfo{};
    moduleInfo.sType = VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO;
    moduleInfo.codeSize = words.size() * sizeof(uint32_t);
    moduleInfo.pCode = words.data();
    HARNESS_CHECK(vkCreateShaderModule(device_, &moduleInfo, nullptr, &p.module));
    std::vector<VkDescriptorSetLayoutBinding> layoutBindings(bindings);
    for (uint32_t b = 0; b < bindings; ++b) {
        layoutBindings[b] = {b, VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, 1, VK_SHADER_STAGE_COMPUTE_BIT,
                             nullptr};
    }
    VkDescriptorSetLayoutCreateInfo setInfo{};
    setInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_LAYOUT_CREATE_INFO;
    setInfo.bindingCount = bindings;
    setInfo.pBindings = layoutBindings.data();
    HARNESS_CHECK(vkCreateDescriptorSetLayout(device_, &setInfo, nullptr, &p.setLayout));
    VkPushConstantRange range{VK_SHADER_STAGE_COMPUTE_BIT, 0, kMaxPushBytes};
    VkPipelineLayoutCreateInfo layoutInfo{};
    layoutInfo.sType = VK_STRUCTURE_TYPE_PIPELINE_LAYOUT_CREATE_INFO;
    layoutInfo.setLayoutCount = 1;
    layoutInfo.pSetLayouts = &p.setLayout;
    layoutInfo.pushConstantRangeCount = 1;
    layoutInfo.pPushConstantRanges = &range;
    HARNESS_CHECK(vkCreatePipelineLayout(device_, &layoutInfo, nullptr, &p.layout));
    VkComputePipelineCreateInfo pipeInfo{};
    pipeInfo.sType = VK_STRUCTURE_TYPE_COMPUTE_PIPELINE_CREATE_INFO;
    pipeInfo.stage = {};
    pipeInfo.stage.sType = VK_STRUCTURE_TYPE_PIPELINE_SHADER_STAGE_CREATE_INFO;
    pipeInfo.stage.stage = VK_SHADER_STAGE_COMPUTE_BIT;
    pipeInfo.stage.module = p.module;
    pipeInfo.stage.pName = "main";
    pipeInfo.layout = p.layout;
    HARNESS_CHECK(
        vkCreateComputePipelines(device_, VK_NULL_HANDLE, 1, &pipeInfo, nullptr, &p.pipeline));
    programs_.push_back(p);
    return programs_.size() - 1;
}

void ComputeHarness::dispatch(size_t program, const std::vector<const HostBuffer*>& buffers,
                              uint32_t groups, const void* push, uint32_t pushBytes) {
    const Program& p = programs_.at(program);
    if (buffers.size() != p.bindings) throw std::runtime_error("binding count mismatch");
    if (pushBytes > kMaxPushBytes) throw std::runtime_error("push block too large");

    VkDescriptorPoolSize poolSize{VK_DESCRIPTOR_TYPE_STORAGE_BUFFER, std::max(p.bindings, 1u)};
    VkDescriptorPoolCreateInfo poolInfo{};
    poolInfo.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_POOL_CREATE_INFO;
    poolInfo.maxSets = 1;
    poolInfo.poolSizeCount = 1;
    poolInfo.pPoolSizes = &poolSize;
    VkDescriptorPool descriptorPool = VK_NULL_HANDLE;
    HARNESS_CHECK(vkCreateDescriptorPool(device_, &poolInfo, nullptr, &descriptorPool));
    VkCommandBuffer cmd = VK_NULL_HANDLE;
    try {
        VkDescriptorSetAllocateInfo setAlloc{};
        setAlloc.sType = VK_STRUCTURE_TYPE_DESCRIPTOR_SET_ALLOCATE_INFO;
        setAlloc.descriptorPool = descriptorPool;
        setAlloc.descriptorSetCount = 1;
        setAlloc.pSetLayouts = &p.setLayout;
        VkDescriptorSet set = VK_NULL_HANDLE;
        HARNESS_CHECK(vkAllocateDescriptorSets(device_, &setAlloc, &set));
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
        vkUpdateDescriptorSets(device_, static_cast<uint32_t>(writes.size()), writes.data(), 0,
                               nullptr);

        VkCommandBufferAllocateInfo cmdAlloc{};

        cmdAlloc.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_ALLOCATE_INFO;
        cmdAlloc.commandPool = pool_;
        cmdAlloc.level = VK_COMMAND_BUFFER_LEVEL_PRIMARY;
        cmdAlloc.commandBufferCount = 1;
        HARNESS_CHECK(vkAllocateCommandBuffers(device_, &cmdAlloc, &cmd));
        VkCommandBufferBeginInfo begin{};
        begin.sType = VK_STRUCTURE_TYPE_COMMAND_BUFFER_BEGIN_INFO;
        begin.flags = VK_COMMAND_BUFFER_USAGE_ONE_TIME_SUBMIT_BIT;
        HARNESS_CHECK(vkBeginCommandBuffer(cmd, &begin));
        vkCmdBindPipeline(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, p.pipeline);
        vkCmdBindDescriptorSets(cmd, VK_PIPELINE_BIND_POINT_COMPUTE, p.layout, 0, 1, &set, 0,
                                nullptr);
        unsigned char pushData[kMaxPushBytes] = {};
        if (push) std::memcpy(pushData, push, pushBytes);
        vkCmdPushConstants(cmd, p.layout, VK_SHADER_STAGE_COMPUTE_BIT, 0, kMaxPushBytes, pushData);
        vkCmdDispatch(cmd, groups, 1, 1);
        VkMemoryBarrier barrier{};
        barrier.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER;
        barrier.srcAccessMask = VK_ACCESS_SHADER_WRITE_BIT;
        barrier.dstAccessMask = VK_ACCESS_HOST_READ_BIT;
        vkCmdPipelineBarrier(cmd, VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT,
                             VK_PIPELINE_STAGE_HOST_BIT, 0, 1, &barrier, 0, nullptr, 0, nullptr);
        HARNESS_CHECK(vkEndCommandBuffer(cmd));
        VkSubmitInfo submit{};
        submit.sType = VK_STRUCTURE_TYPE_SUBMIT_INFO;
        submit.commandBufferCount = 1;
        submit.pCommandBuffers = &cmd;
        HARNESS_CHECK(vkResetFences(device_, 1, &fence_));
        HARNESS_CHECK(vkQueueSubmit(queue_, 1, &submit, fence_));
        HARNESS_CHECK(vkWaitForFences(device_, 1, &fence_, VK_TRUE, kWaitForeverNs));
    } catch (...) {
        if (cmd) vkFreeCommandBuffers(device_, pool_, 1, &cmd);
        vkDestroyDescriptorPool(device_, descriptorPool, nullptr);
        throw;
    }
    vkFreeCommandBuffers(device_, pool_, 1, &cmd);
    vkDestroyDescriptorPool(device_, descriptorPool, nullptr);
}
