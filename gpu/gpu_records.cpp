#include "gpu/gpu_records.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string>

static_assert(sizeof(VkAccelerationStructureInstanceKHR) == 64);
static_assert(sizeof(VkAccelerationStructureMotionInstanceNV) == 152);
static_assert(sizeof(VkAccelerationStructureMotionInstanceNV) <= kMotionInstanceStride);

namespace {

constexpr uint8_t kFullMask = 0xFF;
constexpr uint32_t kCustomIndexMask = 0xFFFFFF;
constexpr float kDefaultFaceNormal[3] = {0.0f, 1.0f, 0.0f};

uint32_t mesh_triangle_count(const Scene& scene, uint32_t mesh) {
    return mesh < scene.meshes.size() ? static_cast<uint32_t>(scene.meshes[mesh].triangle_count())
                                      : 0u;
}

// Appends the first `count` elements of an attribute when it covers them.
uint32_t append_attribute(const std::vector<float>& source, bool flagged, size_t vertices,
                          size_t width, std::vector<float>& out) {
    if (!flagged || source.empty() || source.size() < vertices * width) return NO_ATTRIBUTE;
    const uint32_t offset = static_cast<uint32_t>(out.size() / width);
    out.insert(out.end(), source.begin(), source.begin() + static_cast<ptrdiff_t>(vertices * width));
    return offset;
}

void fill_transform(const float (&src)[12], float (&dst)[12]) { std::memcpy(dst, src, sizeof(dst)); }

void fill_transform_matrix(const float (&src)[12], VkTransformMatrixKHR& dst) {
    std::memcpy(dst.matrix, src, sizeof(dst.matrix));
}

bool finite_transform(const float (&m)[12]) {
    return std::all_of(std::begin(m), std::end(m), [](float x) { return std::isfinite(x); });
}

}  // namespace

bool traceable(const Instance& instance) {
    return finite_transform(instance.transform) &&
           (!instance.moving || finite_transform(instance.transform_end));
}

std::vector<GpuEmissive> build_gpu_emissives(const Scene& scene) {
    const size_t count = scene.emissive_instances.size();
    std::vector<GpuEmissive> records(count);
    uint32_t firstTriangle = 0;
    for (size_t i = 0; i < count; ++i) {
        const EmissiveInstance& entry = scene.emissive_instances[i];
        GpuEmissive& r = records[i];
        r = GpuEmissive{};
        r.instance = static_cast<int32_t>(entry.instance);
        r.first_triangle = firstTriangle;
        r.area = entry.area;
        r.select_pdf = i < scene.light_pdf.size() ? scene.light_pdf[i]
                                                  : 1.0f / static_cast<float>(count);
        if (entry.instance < scene.instances.size()) {
            const Instance& inst = scene.instances[entry.instance];
            r.triangle_count = mesh_triangle_count(scene, inst.mesh);
            fill_transform(inst.transform, r.transform);
            fill_transform(inst.moving ? inst.transform_end : inst.transform, r.transform_end);
        }
        firstTriangle += r.triangle_count;
    }
    return records;
}

std::vector<uint32_t> build_env_block(const Scene& scene) {
    std::vector<uint32_t> words(ENV_HEADER_WORDS, 0u);
    if (scene.envmap_texture < 0 || scene.env_cdf_width <= 0 || scene.env_cdf_height <= 0)
        return words;
    const size_t w = static_cast<size_t>(scene.env_cdf_width);
    const size_t h = static_cast<size_t>(scene.env_cdf_height);
    if (scene.env_marginal_cdf.size() != h || scene.env_row_weights.size() != h ||
        scene.env_conditional_cdf.size() / w != h || scene.env_conditional_cdf.size() % w != 0)
        return words;
    GpuEnvHeader header{};
    header.width = scene.env_cdf_width;
    header.height = scene.env_cdf_height;
    header.total_weight = scene.env_total_weight;
    header.intensity = scene.envmap_intensity;
    euler_to_rotation_ext(scene.envmap_rotation, header.rotation);
    header.texture = scene.envmap_texture;
    std::memcpy(words.data(), &header, sizeof(header));

    words.resize(ENV_HEADER_WORDS + 2 * h + w * h, 0u);
    uint32_t* marginal = words.data() + ENV_HEADER_WORDS;
    uint32_t* rowWeights = marginal + h;
    uint32_t* conditional = rowWeights + h;
    std::memcpy(marginal, scene.env_marginal_cdf.data(), h * sizeof(uint32_t));
    std::memcpy(rowWeights, scene.env_row_weights.data(), h * sizeof(float));
    std::memcpy(conditional, scene.env_conditional_cdf.data(), w * h * sizeof(uint32_t));
    return words;
}

GeometryPack pack_geometry(const Scene& scene) {
    GeometryPack pack;
    pack.offsets.reserve(scene.meshes.size());
    for (const MeshData& mesh : scene.meshes) {
        const size_t vertices = mesh.vertex_count();
        const size_t triangles = mesh.triangle_count();
        MeshOffsets off;
        off.vertexOffset = static_cast<uint32_t>(pack.positions.size() / 3);
        off.indexOffset = static_cast<uint32_t>(pack.indices.size());
        off.faceOffset = static_cast<uint32_t>(pack.faceNormals.size() / 3);

        pack.positions.insert(pack.positions.end(), mesh.positions.begin(),
                              mesh.positions.begin() + static_cast<ptrdiff_t>(vertices * 3));
        for (size_t t = 0; t < triangles; ++t) {
            const uint32_t* tri = &mesh.indices[3 * t];
            const bool inRange = tri[0] < vertices && tri[1] < vertices && tri[2] < vertices;
            for (int k = 0; k < 3; ++k) pack.indices.push_back(inRange ? tri[k] : 0u);
            if (!inRange) ++pack.degenerateTriangles;
            for (int k = 0; k < 3; ++k) {
                const size_t at = 3 * t + static_cast<size_t>(k);
                pack.faceNormals.push_back(at < mesh.face_normals.size() ? mesh.face_normals[at]
                                                                         : kDefaultFaceNormal[k]);
            }
        }
        off.normalOffset = append_attribute(mesh.normals, mesh.has_normals, vertices, 3, pack.normals);
        off.uvOffset = append_attribute(mesh.uvs, mesh.has_uvs, vertices, 2, pack.uvs);
        off.tangentOffset =
            append_attribute(mesh.tangents, mesh.has_tangents, vertices, 3, pack.tangents);
        pack.offsets.push_back(off);
        pack.vertexCounts.push_back(static_cast<uint32_t>(vertices));
        pack.triangleCounts.push_back(static_cast<uint32_t>(triangles));
    }
    return pack;
}

InstanceTables build_instance_tables(const Scene& scene, const std::vector<MeshOffsets>& offsets) {
    InstanceTables tables;
    const size_t count = scene.instances.size();
    std::vector<int32_t> emissiveIndex(count, -1);
    for (size_t j = 0; j < scene.emissive_instances.size(); ++j) {
        const uint32_t inst = scene.emissive_instances[j].instance;
        if (inst < count) emissiveIndex[inst] = static_cast<int32_t>(j);
    }
    tables.instances.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const Instance& inst = scene.instances[i];
        const MeshOffsets off = inst.mesh < offsets.size() ? offsets[inst.mesh] : MeshOffsets{};
        GpuInstance& g = tables.instances[i];
        g.material = inst.material;
        g.face_offset = off.faceOffset;
        g.index_offset = off.indexOffset;
        g.vertex_offset = off.vertexOffset;
        g.face_material_start = -1;
        g.emissive_index = emissiveIndex[i];
        g.normal_offset = off.normalOffset;
        g.uv_offset = off.uvOffset;
        g.tangent_offset = off.tangentOffset;
        if (inst.has_face_materials && !inst.face_materials.empty()) {
            g.face_material_start = static_cast<int32_t>(tables.faceMaterials.size());
            const size_t triangles = mesh_triangle_count(scene, inst.mesh);
            for (size_t t = 0; t < triangles; ++t)
                tables.faceMaterials.push_back(
                    t < inst.face_materials.size() ? inst.face_materials[t] : inst.material);
        }
    }
    return tables;
}

void check_instance_count(size_t count) {
    if (count > kMaxTracedInstances)
        throw std::runtime_error("Scene has " + std::to_string(count) + " instances; at most " +
                                 std::to_string(kMaxTracedInstances) + " can be traced");
}

VkAccelerationStructureInstanceKHR make_static_instance_record(const Instance& instance,
                                                               uint32_t index,
                                                               VkDeviceAddress blasAddress) {
    VkAccelerationStructureInstanceKHR record;
    std::memset(&record, 0, sizeof(record));
    if (traceable(instance))
        fill_transform_matrix(instance.transform, record.transform);
    else
        blasAddress = 0;
    record.instanceCustomIndex = index & kCustomIndexMask;
    record.mask = blasAddress != 0 ? kFullMask : 0;
    record.instanceShaderBindingTableRecordOffset = 0;
    record.flags = VK_GEOMETRY_INSTANCE_TRIANGLE_FACING_CULL_DISABLE_BIT_KHR;
    record.accelerationStructureReference = blasAddress;
    return record;
}

VkAccelerationStructureMotionInstanceNV make_motion_instance_record(const Instance& instance,
                                                                    uint32_t index,
                                                                    VkDeviceAddress blasAddress) {
    VkAccelerationStructureMotionInstanceNV record;
    std::memset(&record, 0, sizeof(record));
    record.flags = 0;
    if (!instance.moving) {
        record.type = VK_ACCELERATION_STRUCTURE_MOTION_INSTANCE_TYPE_STATIC_NV;
        record.data.staticInstance = make_static_instance_record(instance, index, blasAddress);
        return record;
    }
    record.type = VK_ACCELERATION_STRUCTURE_MOTION_INSTANCE_TYPE_MATRIX_MOTION_NV;
    VkAccelerationStructureMatrixMotionInstanceNV& m = record.data.matrixMotionInstance;
    if (traceable(instance)) {
        fill_transform_matrix(instance.transform, m.transformT0);
        fill_transform_matrix(instance.transform_end, m.transformT1);
    } else {
        blasAddress = 0;
    }
    m.instanceCustomIndex = index & kCustomIndexMask;
    m.mask = blasAddress != 0 ? kFullMask : 0;
    m.instanceShaderBindingTableRecordOffset = 0;
    m.flags = VK_GEOMETRY_INSTANCE_TRIANGLE_FACING_CULL_DISABLE_BIT_KHR;
    m.accelerationStructureReference = blasAddress;
    return record;
}

std::vector<uint8_t> pack_motion_instance_records(
    const Scene& scene, const std::vector<VkDeviceAddress>& blasAddresses) {
    std::vector<uint8_t> bytes(scene.instances.size() * kMotionInstanceStride, 0);
    for (size_t i = 0; i < scene.instances.size(); ++i) {
        const Instance& inst = scene.instances[i];
        const VkDeviceAddress blas = i < blasAddresses.size() ? blasAddresses[i] : 0;
        const VkAccelerationStructureMotionInstanceNV record =
            make_motion_instance_record(inst, static_cast<uint32_t>(i), blas);
        std::memcpy(bytes.data() + i * kMotionInstanceStride, &record, sizeof(record));
    }
    return bytes;
}
