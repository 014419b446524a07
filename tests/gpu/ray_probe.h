// Test-only compute programs on a renderer's device, compiled with the
// renderer's own GLSL compiler; among them ray casting against the
// renderer's TLAS with ray queries (tests/gpu/shaders/ray_probe.comp).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "gpu/vk_renderer.h"

// One compute pipeline over a single descriptor set whose bindings are
// given as (binding, type), and a pool that can hand out that set once at a
// time (sets may be freed).
struct ComputeProgram {
    ComputeProgram(VkRenderer& renderer, const std::vector<std::pair<uint32_t, VkDescriptorType>>& bindings,
                   const std::string& source, const std::string& name, const std::string& includeDir);
    ~ComputeProgram();
    ComputeProgram(const ComputeProgram&) = delete;
    ComputeProgram& operator=(const ComputeProgram&) = delete;

    VkDescriptorSet allocateSet();

    VkRenderer& r;
    VkDescriptorSetLayout setLayout = VK_NULL_HANDLE;
    VkPipelineLayout layout = VK_NULL_HANDLE;
    VkPipeline pipeline = VK_NULL_HANDLE;
    VkDescriptorPool pool = VK_NULL_HANDLE;
};

struct ProbeRay {
    float origin[3];
    float direction[3];
};

struct ProbeHit {
    int32_t customIndex;  // -1 on a miss
    int32_t primitive;
    float u;
    float v;
    float t;
    int32_t pad[3];
};

class RayProbe {
public:
    explicit RayProbe(VkRenderer& renderer);

    // Traces every ray against renderer.tlas as it is now.
    std::vector<ProbeHit> trace(const std::vector<ProbeRay>& rays);

private:
    VkRenderer& r_;
    ComputeProgram program_;
};
