// Runs of static instances traced through one shared BLAS.
//
// Scenes from modelling tools and scene files often place many small meshes
// at the same transform (a room's walls, a model's parts). One BLAS and one
// TLAS instance per mesh makes every ray enter each of their bounding boxes
// through the TLAS, transform itself into the instance and start a new
// traversal; on a CPU driver that doubled the trace time of the Cornell box.
// A run of consecutive instances that share a finite, still transform is
// therefore also built as one BLAS with one geometry per member, and the
// TLAS lists it once, under the first member's index: a hit's instance is
// the custom index plus the geometry index, so the members keep their own
// instance records, materials and object ids.
//
// The per-mesh BLAS stay as well (only small meshes are merged, so the extra
// memory stays small): when the host later moves one member on its own, the
// run no longer holds and its members are traced through their own BLAS
// again, without a BLAS build.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <vector>

#include "scene/scene.h"

struct MergedRun {
    uint32_t first = 0;           // instance index of the first member
    std::vector<uint32_t> meshes;  // mesh of each member, in instance order
};

// Meshes with more triangles have BVHs deep enough that an instance's own
// entry costs little; they are not merged, which bounds the memory the
// duplicate BLAS take.
inline constexpr uint32_t kMaxMergedMeshTriangles = 1u << 16;
// A run closes when its next member would take it past this many triangles.
inline constexpr uint32_t kMaxMergedRunTriangles = 1u << 20;

// Runs of two or more instances, in instance order. `tracedTriangles[m]` is
// the triangle count of mesh m's BLAS (0: mesh m has none).
std::vector<MergedRun> find_merged_runs(const Scene& scene,
                                        const std::vector<uint32_t>& tracedTriangles);

// Whether `run` still describes the scene's instances: the same meshes, all
// still, finite and sharing the first member's transform.
bool merged_run_holds(const Scene& scene, const MergedRun& run);

// The BLAS each instance's TLAS record references: its mesh's
// (`meshBlas[m]`, 0 or missing: none), or for a run that still holds, the
// run's BLAS (`runBlas[r]`) at the first member and none (an inactive
// record) at the others.
std::vector<VkDeviceAddress> instance_blas_addresses(const Scene& scene,
                                                     const std::vector<VkDeviceAddress>& meshBlas,
                                                     const std::vector<MergedRun>& runs,
                                                     const std::vector<VkDeviceAddress>& runBlas);
