// Ray casting against a renderer's TLAS with ray queries
// (tests/gpu/shaders/ray_probe.comp).
#pragma once

#include <vector>

#include "compute_program.h"

struct ProbeRay {
    float origin[3];
    float direction[3];
};

struct ProbeHit {
    int32_t instance;  // -1 on a miss
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
