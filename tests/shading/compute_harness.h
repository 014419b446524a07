// Test-only compute harness on the renderer's own device: VkRenderer brings
// up the first ray-tracing GPU (lavapipe here) with the validation layer and
// provides buffers and one-shot submissions; the harness adds single
// compute pipelines of GLSL programs compiled at test time, so the shading
// library is proven on the device the renderer will use.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gpu/compute_program.h"
#include "gpu/vk_renderer.h"

class ComputeHarness;

// A device-local storage buffer, filled and read through staged copies.
// Starts zeroed.
class GpuBuffer {
public:
    GpuBuffer(ComputeHarness& harness, size_t bytes);
    ~GpuBuffer();
    GpuBuffer(const GpuBuffer&) = delete;
    GpuBuffer& operator=(const GpuBuffer&) = delete;

    template <class T>
    void write(const std::vector<T>& values) {
        writeBytes(values.data(), std::min(bytes_, values.size() * sizeof(T)));
    }
    template <class T>
    std::vector<T> read() const {
        std::vector<T> out(bytes_ / sizeof(T));
        readBytes(out.data(), out.size() * sizeof(T));
        return out;
    }
    VkBuffer handle() const { return buffer_.buffer; }
    size_t size() const { return bytes_; }

private:
    void writeBytes(const void* data, size_t bytes);
    void readBytes(void* data, size_t bytes) const;

    VkRenderer& renderer_;
    AllocatedBuffer buffer_;
    size_t bytes_;
};

class ComputeHarness {
public:
    // Opens ray-tracing device 0 with validation, synchronisation validation
    // included, on. Throws when there is none.
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
    void dispatch(size_t program, const std::vector<const GpuBuffer*>& buffers, uint32_t groups,
                  const void* push = nullptr, uint32_t pushBytes = 0);

    // Warning- and error-severity validation messages seen so far.
    uint32_t validationMessages() const { return renderer_.validationMessageCount.load(); }

    VkRenderer& renderer() { return renderer_; }

private:
    VkRenderer renderer_;
    std::vector<std::unique_ptr<ComputeProgram>> programs_;
};

// The directory the shading library lives in (include directory of the
// test programs).
std::string shader_include_dir();
