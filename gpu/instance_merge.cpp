#include "gpu/instance_merge.h"

#include <cstring>

#include "gpu/gpu_records.h"

namespace {

bool mergeable(const Instance& instance) { return !instance.moving && traceable(instance); }

bool same_transform(const Instance& a, const Instance& b) {
    return std::memcmp(a.transform, b.transform, sizeof(a.transform)) == 0;
}

}  // namespace

std::vector<MergedRun> find_merged_runs(const Scene& scene,
                                        const std::vector<uint32_t>& tracedTriangles) {
    std::vector<MergedRun> runs;
    MergedRun open;
    uint64_t openTriangles = 0;
    auto close = [&] {
        if (open.meshes.size() >= 2) runs.push_back(open);
        open.meshes.clear();
        openTriangles = 0;
    };
    for (size_t i = 0; i < scene.instances.size(); ++i) {
        const Instance& inst = scene.instances[i];
        const uint32_t triangles = inst.mesh < tracedTriangles.size() ? tracedTriangles[inst.mesh] : 0;
        if (triangles == 0 || triangles > kMaxMergedMeshTriangles || !mergeable(inst)) {
            close();
            continue;
        }
        const bool joins = !open.meshes.empty() &&
                           same_transform(scene.instances[open.first], inst) &&
                           openTriangles + triangles <= kMaxMergedRunTriangles;
        if (!joins) {
            close();
            open.first = static_cast<uint32_t>(i);
        }
        open.meshes.push_back(inst.mesh);
        openTriangles += triangles;
    }
    close();
    return runs;
}

bool merged_run_holds(const Scene& scene, const MergedRun& run) {
    if (run.first >= scene.instances.size() || run.meshes.size() > scene.instances.size() - run.first)
        return false;
    const Instance& lead = scene.instances[run.first];
    for (size_t k = 0; k < run.meshes.size(); ++k) {
        const Instance& inst = scene.instances[run.first + k];
        if (inst.mesh != run.meshes[k] || !mergeable(inst) || !same_transform(lead, inst)) return false;
    }
    return true;
}

std::vector<VkDeviceAddress> instance_blas_addresses(const Scene& scene,
                                                     const std::vector<VkDeviceAddress>& meshBlas,
                                                     const std::vector<MergedRun>& runs,
                                                     const std::vector<VkDeviceAddress>& runBlas) {
    std::vector<VkDeviceAddress> out(scene.instances.size(), 0);
    for (size_t i = 0; i < out.size(); ++i) {
        const uint32_t mesh = scene.instances[i].mesh;
        out[i] = mesh < meshBlas.size() ? meshBlas[mesh] : 0;
    }
    for (size_t r = 0; r < runs.size(); ++r) {
        const VkDeviceAddress blas = r < runBlas.size() ? runBlas[r] : 0;
        if (blas == 0 || !merged_run_holds(scene, runs[r])) continue;
        for (size_t k = 0; k < runs[r].meshes.size(); ++k) out[runs[r].first + k] = 0;
        out[runs[r].first] = blas;
    }
    return out;
}
