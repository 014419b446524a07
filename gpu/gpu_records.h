// Host-side packing of the records the GPU programs read: light records, the
// environment block, the shared geometry arrays, the per-instance lookup
// table and the TLAS instance records. Pure functions of the Scene, so their
// bytes can be checked without a device.
#pragma once

#include <vulkan/vulkan.h>

#include <cstdint>
#include <vector>

#include "gpu/vk_renderer.h"
#include "scene/scene.h"
#include "shaders/gpu_layout.h"

// One GpuEmissive per entry of emissive_instances, in entry order.
std::vector<GpuEmissive> build_gpu_emissives(const Scene& scene);

// The environment sampling block as 32-bit words: a GpuEnvHeader followed by
// the marginal CDF, row weights and conditional CDF; the header alone, all
// zero, when the scene has no usable environment map. Tables whose lengths
// do not match the recorded width and height (a corrupted or hand-edited
// scene) also give the zero header: the shaders then see width 0 and never
// index past the block, and nothing is allocated from unbacked sizes.
std::vector<uint32_t> build_env_block(const Scene& scene);

// All meshes concatenated for the shared geometry buffers.
//
// Meshes are cut to whole vertices and whole triangles. A triangle that
// names a vertex at or beyond its mesh's vertex count is kept but made
// degenerate (all three corners on vertex 0): it can never be hit, nothing
// outside the mesh's positions is read, and primitive ids, face normals and
// face materials keep their positions. Per-vertex attributes shorter than
// the vertex count are treated as absent (offset NO_ATTRIBUTE); longer ones
// are cut to the vertex count. Face normals are cut or padded with (0, 1, 0)
// to one per triangle.
struct GeometryPack {
    std::vector<MeshOffsets> offsets;
    std::vector<float> positions;
    std::vector<uint32_t> indices;
    std::vector<float> faceNormals;
    std::vector<float> normals;
    std::vector<float> uvs;
    std::vector<float> tangents;
    std::vector<uint32_t> vertexCounts;    // per mesh, after cutting
    std::vector<uint32_t> triangleCounts;  // per mesh, after cutting
    size_t degenerateTriangles = 0;        // triangles neutralised above
};
GeometryPack pack_geometry(const Scene& scene);

// The lookup table (one GpuInstance per instance) and the face materials of
// the instances that carry them, in instance order. Each instance's face
// materials are cut or padded (with the instance's own material) to its
// mesh's triangle count so that face_material_start + primitive id always
// stays inside the table.
struct InstanceTables {
    std::vector<GpuInstance> instances;
    std::vector<int32_t> faceMaterials;
};
InstanceTables build_instance_tables(const Scene& scene, const std::vector<MeshOffsets>& offsets);

// Shaders find an instance through the 24-bit custom index, so at most
// kMaxTracedInstances instances can be told apart; throws std::runtime_error
// for more.
inline constexpr size_t kMaxTracedInstances = size_t{1} << 24;
void check_instance_count(size_t count);

// An instance whose transform is not finite references no BLAS and keeps a
// zero transform: it is inactive, which acceleration-structure builds skip,
// as Vulkan does for a triangle with a NaN vertex. What a driver builds and
// traces from NaN or infinite bounds is undefined.
bool traceable(const Instance& instance);

// TLAS instance records for instance `index`. A zero `blasAddress` (a mesh
// without triangles) or a transform that is not finite yields an inactive
// instance with mask 0.
VkAccelerationStructureInstanceKHR make_static_instance_record(const Instance& instance,
                                                               uint32_t index,
                                                               VkDeviceAddress blasAddress);
// Matrix-motion record (transform at shutter open and close) for a moving
// instance, the static record wrapped in the motion layout otherwise.
VkAccelerationStructureMotionInstanceNV make_motion_instance_record(const Instance& instance,
                                                                    uint32_t index,
                                                                    VkDeviceAddress blasAddress);

// A TLAS build reads motion instance records at a fixed stride of 160 bytes,
// 8 more than the record itself; the gap after each record is zero.
inline constexpr size_t kMotionInstanceStride = 160;
// The motion records of every instance, packed at kMotionInstanceStride.
// `blasAddresses[i]` is instance i's BLAS address (0 or missing: inactive).
std::vector<uint8_t> pack_motion_instance_records(
    const Scene& scene, const std::vector<VkDeviceAddress>& blasAddresses);
