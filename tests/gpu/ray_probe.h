// Test-only ray casting against a renderer's TLAS through a compute program
// with ray queries (tests/gpu/shaders/ray_probe.comp), compiled with the
// renderer's own GLSL compiler.
#pragma once

#include <vector>

#include "gpu/vk_renderer.h"

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
    ~RayProbe();
    RayProbe(const RayProbe&) = delete;
    RayProbe& operator=(const RayProbe&) = delete;

    // Traces every ray against renderer.tlas as it is now.
    std::vector<ProbeHit> trace(const std::vector<ProbeRay>& rays);

private:
    VkRenderer& r_;
    VkDescriptorSetLayout setLayout_ = VK_NULL_HANDLE;
    VkPipelineLayout pipelineLayout_ = VK_NULL_HANDLE;
    VkPipeline pipeline_ = VK_NULL_HANDLE;
    VkDescriptorPool pool_ = VK_NULL_HANDLE;
};
