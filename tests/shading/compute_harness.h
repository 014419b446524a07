// Test-only Vulkan compute harness: one lavapipe device with the Khronos
// validation layer, host-visible storage buffers and single compute
// dispatches of GLSL programs compiled at test time. The shading library is
// proven through it before the renderer's own pipelines exist.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Throws std::runtime_error "Vulkan error <code> at <file>:<line>".
void harness_check(VkResult result, const char* file, int line);
#define HARNESS_CHECK(call) harness_check((call), __FILE__, __LINE__)

class ComputeHarness;

// A host-visible, host-coherent storage buffer, mapped for its lifetime.
class HostBuffer {
public:
    HostBuffer(ComputeHarness& harness, size_t bytes);
    ~HostBuffer();
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;

    template <class T>
    void write(const std::vector<T>& values) {
        std::memcpy(mapped_, values.data(), std::min(bytes_, values.size() * sizeof(T)));
    }
    template <class T>
    std::vector<T> read() const {
        std::vector<T> out(bytes_ / sizeof(T));
        std::memcpy(out.data(), mapped_, out.size() * sizeof(T));
        return out;
    }
    VkBuffer handle() const { return buffer_; }
    size_t size() const { return bytes_; }

private:
    VkDevice device_;
    VkBuffer buffer_ = VK_NULL_HANDLE;
    VkDeviceMemory memory_ = VK_NULL_HANDLE;
    void* mapped_ = nullptr;
    size_t bytes_;
};

class ComputeHarness {
public:
    // Opens the first CPU (lavapipe) device, or any device when none is a
    // CPU, with validation on. Throws when no device is available.
    ComputeHarness();
    ~ComputeHarness();
    ComputeHarness(const ComputeHarness&) = delete;
    ComputeHarness& operator=(const ComputeHarness&) = delete;

    // Compiles `source` (includes resolved in the shaders directory) into a
    // pipeline whose set 0 has `bindings` storage buffers (bindings 0 to
    // bindings - 1); returns a reusable program handle.
    size_t compile(const std::string& source, const std::string& name, uint32_t bindings,
                   const std::vector<std::string>& macros = {});
    // Runs `groups` work groups of `program`; buffers[i] is bound at set 0,
    // binding i; `push` (at most 128 bytes) goes to the push-constant range.
    // Waits for completion.
    void dispatch(size_t program, const std::vector<const HostBuffer*>& buffers, uint32_t groups,
                  const void* push = nullptr, uint32_t pushBytes = 0);

    // Warning- and error-severity validation messages seen so far.
    int validationMessages() const { return validationMessages_; }

    VkDevice device() const { return device_; }
    uint32_t memoryTypeFor(uint32_t typeBits, VkMemoryPropertyFlags flags) const;

private:
    struct Program {
        VkShaderModule module = VK_NULL_HANDLE;
        VkDescriptorSetLayout setLayout = VK_NULL_HANDLE;
        VkPipelineLayout layout = VK_NULL_HANDLE;
        VkPipeline pipeline = VK_NULL_HANDLE;
        uint32_t bindings = 0;
    };
    static VKAPI_ATTR VkBool32 VKAPI_CALL onMessage(
        VkDebugUtilsMessageSeverityFlagBitsEXT severity, VkDebugUtilsMessageTypeFlagsEXT types,
        const VkDebugUtilsMessengerCallbackDataEXT* data, void* user);

    VkInstance instance_ = VK_NULL_HANDLE;
    VkDebugUtilsMessengerEXT messenger_ = VK_NULL_HANDLE;
    VkPhysicalDevice physical_ = VK_NULL_HANDLE;
    VkDevice device_ = VK_NULL_HANDLE;
    VkQueue queue_ = VK_NULL_HANDLE;
    uint32_t queueFamily_ = 0;
    VkCommandPool pool_ = VK_NULL_HANDLE;
    VkFence fence_ = VK_NULL_HANDLE;
    std::vector<Program> programs_;
    int validationMessages_ = 0;
};

// The directory the shading library lives in (include directory of the
// test programs).
std::string shader_include_dir();
