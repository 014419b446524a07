// Acceleration structures: shared geometry buffers, one BLAS per mesh, the
// per-instance lookup table and the TLAS over all instances.
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "gpu/gpu_records.h"
#include "gpu/vk_check.h"
#include "gpu/vk_renderer.h"
#include "scene/cpu_bvh.h"
#include "scene/scene.h"

namespace {

constexpr VkDeviceSize kGeometryPlaceholderBytes = 16;
constexpr VkDeviceSize kPlaceholderBytes = 4;
constexpr VkDeviceSize kMinInstanceInfoBytes = 16;
const uint8_t kZeroBytes[kGeometryPlaceholderBytes] = {};

template <typename T>
VkDeviceSize byte_size(const std::vector<T>& v) {
    return static_cast<VkDeviceSize>(v.size()) * sizeof(T);
}

// Triangles of mesh m that its BLAS holds: none for a mesh without
// vertices, whose instances become inactive TLAS entries.
uint32_t traced_triangles(const GeometryPack& pack, size_t m) {
    return pack.vertexCounts[m] == 0 ? 0u : pack.triangleCounts[m];
}

VkDeviceSize align_up(VkDeviceSize value, VkDeviceSize alignment) {
    return alignment > 1 ? (value + alignment - 1) / alignment * alignment : value;
}

// Makes earlier uploads and builds (other submissions) visible to the
// acceleration-structure builds recorded after it.
void build_input_barrier(VkCommandBuffer cmd) {
    VkMemoryBarrier barrier{};
    barrier.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER;
    barrier.srcAccessMask =
        VK_ACCESS_TRANSFER_WRITE_BIT | VK_ACCESS_ACCELERATION_STRUCTURE_WRITE_BIT_KHR;
    barrier.dstAccessMask =
        VK_ACCESS_ACCELERATION_STRUCTURE_READ_BIT_KHR | VK_ACCESS_SHADER_READ_BIT;
    vkCmdPipelineBarrier(cmd,
                         VK_PIPELINE_STAGE_TRANSFER_BIT |
                             VK_PIPELINE_STAGE_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                         VK_PIPELINE_STAGE_ACCELERATION_STRUCTURE_BUILD_BIT_KHR, 0, 1, &barrier,
                         0, nullptr, 0, nullptr);
}

// Builds that finish inside a command buffer become visible to ray queries and
// ray-tracing shaders of later submissions.
void build_output_barrier(VkCommandBuffer cmd) {
    VkMemoryBarrier barrier{};
    barrier.sType = VK_STRUCTURE_TYPE_MEMORY_BARRIER;
    barrier.srcAccessMask = VK_ACCESS_ACCELERATION_STRUCTURE_WRITE_BIT_KHR;
    barrier.dstAccessMask = VK_ACCESS_ACCELERATION_STRUCTURE_READ_BIT_KHR;
    vkCmdPipelineBarrier(cmd, VK_PIPELINE_STAGE_ACCELERATION_STRUCTURE_BUILD_BIT_KHR,
                         VK_PIPELINE_STAGE_ACCELERATION_STRUCTURE_BUILD_BIT_KHR |
                             VK_PIPELINE_STAGE_RAY_TRACING_SHADER_BIT_KHR |
                             VK_PIPELINE_STAGE_COMPUTE_SHADER_BIT,
                         0, 1, &barrier, 0, nullptr, 0, nullptr);
}

}  // namespace

void VkRenderer::submitAccelerationBuilds(
    uint32_t count, const VkAccelerationStructureBuildGeometryInfoKHR* builds,
    const VkAccelerationStructureBuildRangeInfoKHR* const* ranges) {
    VkCommandBuffer cmd = beginSingleTimeCommands();
    build_input_barrier(cmd);
    vkCmdBuildAccelerationStructuresKHR(cmd, count, builds, ranges);
    build_output_barrier(cmd);
    endSingleTimeCommands(cmd);
}

void VkRenderer::destroyAccelerationStructures() {
    if (tlas != VK_NULL_HANDLE) vkDestroyAccelerationStructureKHR(device, tlas, nullptr);
    tlas = VK_NULL_HANDLE;
    for (BlasEntry& blas : blasList) {
        if (blas.handle != VK_NULL_HANDLE)
            vkDestroyAccelerationStructureKHR(device, blas.handle, nullptr);
        blas.handle = VK_NULL_HANDLE;
        destroyBuffer(blas.buffer);
    }
    blasList.clear();
    for (MergedBlas& merged : mergedBlasList) {
        if (merged.blas.handle != VK_NULL_HANDLE)
            vkDestroyAccelerationStructureKHR(device, merged.blas.handle, nullptr);
        merged.blas.handle = VK_NULL_HANDLE;
        destroyBuffer(merged.blas.buffer);
    }
    mergedBlasList.clear();
}

void VkRenderer::destroyGeometry() {
    destroyAccelerationStructures();
    for (AllocatedBuffer* b :
         {&tlasBuffer, &instanceBuffer, &positionBuffer, &indexBuffer, &faceNormalBuffer,
          &normalBuffer, &uvBuffer, &tangentBuffer, &instanceInfoBuffer, &faceMaterialBuffer, &cpuBvhBuffer})
        destroyBuffer(*b);
    meshOffsets.clear();
}

void VkRenderer::buildAccelerationStructures(const Scene& scene) {
    // A repeated build replaces the previous one instead of leaking it.
    destroyGeometry();
    // 1. Nothing to place.
    if (scene.instances.empty()) return;
    check_instance_count(scene.instances.size());
    for (size_t i = 0; i < scene.instances.size(); ++i) {
        if (scene.instances[i].mesh >= scene.meshes.size())
            throw std::runtime_error("Instance " + std::to_string(i) + " uses mesh " +
                                     std::to_string(scene.instances[i].mesh) + " of " +
                                     std::to_string(scene.meshes.size()));
    }
    // 2.
    useMotionBlur = std::any_of(scene.instances.begin(), scene.instances.end(),
                                [](const Instance& inst) { return inst.moving; });

    // 3-4. Shared geometry; absent tables get small zero placeholders so that
    // every binding always names a valid buffer.
    const GeometryPack pack = pack_geometry(scene);
    meshOffsets = pack.offsets;
    const VkBufferUsageFlags buildInput =
        VK_BUFFER_USAGE_ACCELERATION_STRUCTURE_BUILD_INPUT_READ_ONLY_BIT_KHR;
    auto geometry = [&](AllocatedBuffer& member, const char* name, const auto& data,
                        VkDeviceSize placeholderBytes, VkBufferUsageFlags usage) {
        if (data.empty())
            createBoundBuffer(member, name, placeholderBytes, kZeroBytes, placeholderBytes);
        else
            createBoundBuffer(member, name, byte_size(data), data.data(), byte_size(data), usage);
    };
    geometry(positionBuffer, "positionBuffer", pack.positions, kGeometryPlaceholderBytes, buildInput);
    geometry(indexBuffer, "indexBuffer", pack.indices, kGeometryPlaceholderBytes, buildInput);
    geometry(faceNormalBuffer, "faceNormalBuffer", pack.faceNormals, kGeometryPlaceholderBytes, 0);
    geometry(normalBuffer, "normalBuffer", pack.normals, kPlaceholderBytes, 0);
    geometry(uvBuffer, "uvBuffer", pack.uvs, kPlaceholderBytes, 0);
    geometry(tangentBuffer, "tangentBuffer", pack.tangents, kPlaceholderBytes, 0);

    // 5-7. One BLAS per mesh that has triangles, and one per run of
    // instances that share a transform.
    blasList.resize(scene.meshes.size());
    if (mergeStaticInstances) {
        std::vector<uint32_t> traced(pack.offsets.size(), 0);
        for (size_t m = 0; m < traced.size(); ++m)
            traced[m] = traced_triangles(pack, m);
        for (MergedRun& run : find_merged_runs(scene, traced)) mergedBlasList.push_back({std::move(run), {}});
    }
    buildBottomLevel(pack);
    std::printf("Built %zu BLAS\n", blasList.size());

    // 8. Lookup table, 9. TLAS.
    uploadInstanceTables(scene);
    buildTLASFromInstances(scene);
    buildCpuBvh(scene);
}

namespace {

// Mesh m's triangles as a BLAS geometry over the shared buffers.
VkAccelerationStructureGeometryKHR mesh_geometry(const GeometryPack& pack, size_t m,
                                                 VkDeviceAddress positions, VkDeviceAddress indices) {
    const MeshOffsets& off = pack.offsets[m];
    VkAccelerationStructureGeometryKHR geometry{};
    geometry.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_GEOMETRY_KHR;
    geometry.geometryType = VK_GEOMETRY_TYPE_TRIANGLES_KHR;
    geometry.flags = VK_GEOMETRY_OPAQUE_BIT_KHR;
    VkAccelerationStructureGeometryTrianglesDataKHR& tri = geometry.geometry.triangles;
    tri.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_GEOMETRY_TRIANGLES_DATA_KHR;
    tri.vertexFormat = VK_FORMAT_R32G32B32_SFLOAT;
    tri.vertexData.deviceAddress = positions + 12ull * off.vertexOffset;
    tri.vertexStride = 12;
    tri.maxVertex = pack.vertexCounts[m] - 1;
    tri.indexType = VK_INDEX_TYPE_UINT32;
    tri.indexData.deviceAddress = indices + 4ull * off.indexOffset;
    return geometry;
}

// One BLAS to build: its geometries and their triangle counts, kept alive
// until the batch that records it has been submitted.
struct BlasJob {
    BlasEntry* entry = nullptr;
    std::vector<VkAccelerationStructureGeometryKHR> geometries;
    std::vector<VkAccelerationStructureBuildRangeInfoKHR> ranges;
    VkAccelerationStructureBuildGeometryInfoKHR build{};
    VkDeviceSize scratchSize = 0;
};

}  // namespace

void VkRenderer::buildBottomLevel(const GeometryPack& pack) {
    const VkDeviceAddress positions = getBufferAddress(positionBuffer.buffer);
    const VkDeviceAddress indices = getBufferAddress(indexBuffer.buffer);
    // A mesh without triangles or vertices has nothing to trace; its
    // instances become inactive TLAS entries.
    std::vector<BlasJob> jobs;
    for (size_t m = 0; m < pack.offsets.size(); ++m) {
        if (traced_triangles(pack, m) == 0) continue;
        BlasJob& job = jobs.emplace_back();
        job.entry = &blasList[m];
        job.geometries.push_back(mesh_geometry(pack, m, positions, indices));
        job.ranges.push_back({traced_triangles(pack, m), 0, 0, 0});
    }
    for (MergedBlas& merged : mergedBlasList) {
        BlasJob& job = jobs.emplace_back();
        job.entry = &merged.blas;
        for (uint32_t m : merged.run.meshes) {
            job.geometries.push_back(mesh_geometry(pack, m, positions, indices));
            job.ranges.push_back({traced_triangles(pack, m), 0, 0, 0});
        }
    }

    for (BlasJob& job : jobs) {
        VkAccelerationStructureBuildGeometryInfoKHR& build = job.build;
        build.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_BUILD_GEOMETRY_INFO_KHR;
        build.type = VK_ACCELERATION_STRUCTURE_TYPE_BOTTOM_LEVEL_KHR;
        build.flags = VK_BUILD_ACCELERATION_STRUCTURE_PREFER_FAST_TRACE_BIT_KHR |
                      VK_BUILD_ACCELERATION_STRUCTURE_ALLOW_COMPACTION_BIT_KHR;
        build.mode = VK_BUILD_ACCELERATION_STRUCTURE_MODE_BUILD_KHR;
        build.geometryCount = static_cast<uint32_t>(job.geometries.size());
        build.pGeometries = job.geometries.data();

        std::vector<uint32_t> counts;
        for (const VkAccelerationStructureBuildRangeInfoKHR& range : job.ranges)
            counts.push_back(range.primitiveCount);
        VkAccelerationStructureBuildSizesInfoKHR sizes{};
        sizes.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_BUILD_SIZES_INFO_KHR;
        vkGetAccelerationStructureBuildSizesKHR(device,
                                                VK_ACCELERATION_STRUCTURE_BUILD_TYPE_DEVICE_KHR,
                                                &build, counts.data(), &sizes);
        BlasEntry& blas = *job.entry;
        blas.buffer = createDeviceBuffer(sizes.accelerationStructureSize,
                                         VK_BUFFER_USAGE_ACCELERATION_STRUCTURE_STORAGE_BIT_KHR);
        VkAccelerationStructureCreateInfoKHR create{};
        create.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_CREATE_INFO_KHR;
        create.buffer = blas.buffer.buffer;
        create.size = sizes.accelerationStructureSize;
        create.type = VK_ACCELERATION_STRUCTURE_TYPE_BOTTOM_LEVEL_KHR;
        VK_CHECK(vkCreateAccelerationStructureKHR(device, &create, nullptr, &blas.handle));
        build.dstAccelerationStructure = blas.handle;
        job.scratchSize = align_up(sizes.buildScratchSize, scratchAlignment);
    }

    // BLAS are built in batches that share one scratch buffer (each build
    // its own aligned slice) and one submission, up to blasScratchBudget
    // bytes of scratch per batch; a budget of 0 gives one submission per BLAS.
    size_t next = 0;
    while (next < jobs.size()) {
        size_t end = next;
        VkDeviceSize scratchTotal = 0;
        do {
            scratchTotal += jobs[end].scratchSize;
            ++end;
        } while (end < jobs.size() && scratchTotal + jobs[end].scratchSize <= blasScratchBudget);

        AllocatedBuffer scratch = createDeviceBuffer(
            scratchTotal + scratchAlignment, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
        try {
            VkDeviceAddress cursor =
                align_up(getBufferAddress(scratch.buffer), scratchAlignment);
            std::vector<VkAccelerationStructureBuildGeometryInfoKHR> batch;
            std::vector<const VkAccelerationStructureBuildRangeInfoKHR*> batchRanges;
            for (size_t k = next; k < end; ++k) {
                jobs[k].build.scratchData.deviceAddress = cursor;
                cursor += jobs[k].scratchSize;
                batch.push_back(jobs[k].build);
                batchRanges.push_back(jobs[k].ranges.data());
            }
            submitAccelerationBuilds(static_cast<uint32_t>(batch.size()), batch.data(),
                                     batchRanges.data());
        } catch (...) {
            destroyBuffer(scratch);
            throw;
        }
        destroyBuffer(scratch);
        next = end;
    }
}

void VkRenderer::uploadInstanceTables(const Scene& scene) {
    destroyBuffer(instanceInfoBuffer);
    destroyBuffer(faceMaterialBuffer);
    const InstanceTables tables = build_instance_tables(scene, meshOffsets);
    const VkDeviceSize infoBytes = std::max(kMinInstanceInfoBytes, byte_size(tables.instances));
    createBoundBuffer(instanceInfoBuffer, "instanceInfoBuffer", infoBytes,
                      tables.instances.data(), byte_size(tables.instances));
    if (tables.faceMaterials.empty())
        createPlaceholder(faceMaterialBuffer, "faceMaterialBuffer");
    else
        createBoundBuffer(faceMaterialBuffer, "faceMaterialBuffer",
                          byte_size(tables.faceMaterials), tables.faceMaterials.data(),
                          byte_size(tables.faceMaterials));
}

void VkRenderer::buildTLASFromInstances(const Scene& scene) {
    // 1. Motion records only where the device can trace them; elsewhere moving
    // instances are traced at `transform`.
    const bool motion = hasMotionBlur && useMotionBlur;
    check_instance_count(scene.instances.size());
    const uint32_t count = static_cast<uint32_t>(scene.instances.size());

    // 2. Instance records.
    auto address = [&](const BlasEntry& blas) -> VkDeviceAddress {
        if (blas.handle == VK_NULL_HANDLE) return 0;
        VkAccelerationStructureDeviceAddressInfoKHR info{};
        info.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_DEVICE_ADDRESS_INFO_KHR;
        info.accelerationStructure = blas.handle;
        return vkGetAccelerationStructureDeviceAddressKHR(device, &info);
    };
    std::vector<VkDeviceAddress> meshAddresses;
    for (const BlasEntry& blas : blasList) meshAddresses.push_back(address(blas));
    std::vector<MergedRun> runs;
    std::vector<VkDeviceAddress> runAddresses;
    for (const MergedBlas& merged : mergedBlasList) {
        runs.push_back(merged.run);
        runAddresses.push_back(address(merged.blas));
    }
    const std::vector<VkDeviceAddress> blasAddresses =
        instance_blas_addresses(scene, meshAddresses, runs, runAddresses);
    std::vector<VkAccelerationStructureInstanceKHR> staticRecords;
    std::vector<uint8_t> motionRecords;
    if (motion) {
        motionRecords = pack_motion_instance_records(scene, blasAddresses);
    } else {
        // Inactive records are left out: a TLAS build may still give them
        // a leaf that traversal visits.
        for (uint32_t i = 0; i < count; ++i) {
            const VkAccelerationStructureInstanceKHR record =
                make_static_instance_record(scene.instances[i], i, blasAddresses[i]);
            if (record.accelerationStructureReference != 0) staticRecords.push_back(record);
        }
    }
    const uint32_t recordCount = motion ? count : static_cast<uint32_t>(staticRecords.size());
    const void* recordData = motion ? static_cast<const void*>(motionRecords.data())
                                    : static_cast<const void*>(staticRecords.data());
    const VkDeviceSize recordBytes = motion ? byte_size(motionRecords) : byte_size(staticRecords);

    // 3. Instance buffer.
    instanceBuffer = createDeviceBuffer(
        std::max<VkDeviceSize>(recordBytes, kPlaceholderBytes),
        VK_BUFFER_USAGE_ACCELERATION_STRUCTURE_BUILD_INPUT_READ_ONLY_BIT_KHR);
    if (recordBytes > 0) uploadBuffer(instanceBuffer, recordData, recordBytes);

    // 4. Geometry and build description.
    VkAccelerationStructureGeometryKHR geometry{};
    geometry.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_GEOMETRY_KHR;
    geometry.geometryType = VK_GEOMETRY_TYPE_INSTANCES_KHR;
    geometry.geometry.instances.sType =
        VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_GEOMETRY_INSTANCES_DATA_KHR;
    geometry.geometry.instances.arrayOfPointers = VK_FALSE;
    geometry.geometry.instances.data.deviceAddress = getBufferAddress(instanceBuffer.buffer);
    VkAccelerationStructureBuildGeometryInfoKHR build{};
    build.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_BUILD_GEOMETRY_INFO_KHR;
    build.type = VK_ACCELERATION_STRUCTURE_TYPE_TOP_LEVEL_KHR;
    build.flags = VK_BUILD_ACCELERATION_STRUCTURE_PREFER_FAST_TRACE_BIT_KHR;
    if (motion) build.flags |= VK_BUILD_ACCELERATION_STRUCTURE_MOTION_BIT_NV;
    build.mode = VK_BUILD_ACCELERATION_STRUCTURE_MODE_BUILD_KHR;
    build.geometryCount = 1;
    build.pGeometries = &geometry;

    // 5. Storage and handle.
    VkAccelerationStructureBuildSizesInfoKHR sizes{};
    sizes.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_BUILD_SIZES_INFO_KHR;
    vkGetAccelerationStructureBuildSizesKHR(device, VK_ACCELERATION_STRUCTURE_BUILD_TYPE_DEVICE_KHR,
                                            &build, &recordCount, &sizes);
    tlasBuffer = createDeviceBuffer(sizes.accelerationStructureSize,
                                    VK_BUFFER_USAGE_ACCELERATION_STRUCTURE_STORAGE_BIT_KHR);
    VkAccelerationStructureMotionInfoNV motionInfo{};
    motionInfo.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_MOTION_INFO_NV;
    motionInfo.maxInstances = count;
    VkAccelerationStructureCreateInfoKHR create{};
    create.sType = VK_STRUCTURE_TYPE_ACCELERATION_STRUCTURE_CREATE_INFO_KHR;
    create.buffer = tlasBuffer.buffer;
    create.size = sizes.accelerationStructureSize;
    create.type = VK_ACCELERATION_STRUCTURE_TYPE_TOP_LEVEL_KHR;
    if (motion) {
        create.createFlags = VK_ACCELERATION_STRUCTURE_CREATE_MOTION_BIT_NV;
        create.pNext = &motionInfo;
    }
    VK_CHECK(vkCreateAccelerationStructureKHR(device, &create, nullptr, &tlas));
    build.dstAccelerationStructure = tlas;

    // 6. Build.
    AllocatedBuffer scratch = createDeviceBuffer(sizes.buildScratchSize + scratchAlignment,
                                                 VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    try {
        build.scratchData.deviceAddress =
            align_up(getBufferAddress(scratch.buffer), scratchAlignment);
        const VkAccelerationStructureBuildRangeInfoKHR range{recordCount, 0, 0, 0};
        const VkAccelerationStructureBuildRangeInfoKHR* rangePtr = &range;
        submitAccelerationBuilds(1, &build, &rangePtr);
    } catch (...) {
        destroyBuffer(scratch);
        throw;
    }
    destroyBuffer(scratch);
}

void VkRenderer::rebuildTLAS(const Scene& scene) {
    vkDeviceWaitIdle(device);
    useMotionBlur = std::any_of(scene.instances.begin(), scene.instances.end(),
                                [](const Instance& inst) { return inst.moving; });
    if (tlas != VK_NULL_HANDLE) vkDestroyAccelerationStructureKHR(device, tlas, nullptr);
    tlas = VK_NULL_HANDLE;
    destroyBuffer(tlasBuffer);
    destroyBuffer(instanceBuffer);
    buildTLASFromInstances(scene);
    buildCpuBvh(scene);
}

void VkRenderer::buildCpuBvh(const Scene& scene) {
    destroyBuffer(cpuBvhBuffer);
    if (!computeEyePaths || !traceCpuBvh || (hasMotionBlur && useMotionBlur)) return;
    const std::vector<BvhInputTriangle> triangles = instance_triangles(scene);
    // Beyond this the block's memory (about 80 bytes a triangle) outweighs
    // the gain; such scenes keep the driver's structure.
    constexpr size_t kMaxCpuBvhTriangles = size_t{1} << 24;
    if (triangles.size() > kMaxCpuBvhTriangles) return;
    const std::vector<float> block = cpu_bvh_block(build_cpu_bvh(triangles), scene);
    if (block.empty()) return;
    const VkDeviceSize bytes = block.size() * sizeof(float);
    cpuBvhBuffer = createDeviceBuffer(bytes, VK_BUFFER_USAGE_STORAGE_BUFFER_BIT);
    uploadBuffer(cpuBvhBuffer, block.data(), bytes);
}

void VkRenderer::reuploadInstanceData(const Scene& scene) {
    vkDeviceWaitIdle(device);
    if (scene.instances.empty()) {
        destroyBuffer(instanceInfoBuffer);
        return;
    }
    uploadInstanceTables(scene);
}
