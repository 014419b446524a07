// Host-side bytes of the records the GPU reads, checked against their
// documented layouts without a device (the motion-blur records in particular
// cannot be traced on lavapipe).
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "gpu/gpu_records.h"
#include "gpu/instance_merge.h"

namespace {

template <typename T, typename R>
T at(const R& record, size_t offset) {
    T value;
    std::memcpy(&value, reinterpret_cast<const uint8_t*>(&record) + offset, sizeof(T));
    return value;
}

Instance sample_instance() {
    Instance inst;
    for (int i = 0; i < 12; ++i) {
        inst.transform[i] = static_cast<float>(i + 1);
        inst.transform_end[i] = static_cast<float>(100 + i);
    }
    return inst;
}

constexpr uint64_t kBlas = 0x0123456789ABCDE0ull;
constexpr uint32_t kCullDisable = 0x1;  // VK_GEOMETRY_INSTANCE_TRIANGLE_FACING_CULL_DISABLE_BIT_KHR

// Transform rows, custom index (low 24 bits kept) and mask, SBT offset and
// flags, BLAS address; an instance without a BLAS is masked out.
TEST(InstanceRecords, StaticRecordBytes) {
    const Instance inst = sample_instance();
    const struct {
        uint32_t index;
        uint64_t blas;
        uint32_t indexAndMask;
    } cases[] = {{7, kBlas, 7u | (0xFFu << 24)},
                 {0x1000005u, kBlas, 5u | (0xFFu << 24)},
                 {2, 0, 2u}};
    for (const auto& c : cases) {
        const VkAccelerationStructureInstanceKHR r =
            make_static_instance_record(inst, c.index, c.blas);
        ASSERT_EQ(sizeof(r), 64u);
        for (int i = 0; i < 12; ++i) EXPECT_EQ(at<float>(r, 4 * i), inst.transform[i]);
        EXPECT_EQ(at<uint32_t>(r, 48), c.indexAndMask) << c.index;
        EXPECT_EQ(at<uint32_t>(r, 52), kCullDisable << 24);  // SBT offset 0, flags
        EXPECT_EQ(at<uint64_t>(r, 56), c.blas);
    }
}

// A transform with a NaN or an infinity (at shutter open or, for a moving
// instance, at close) makes the instance inactive: no BLAS, mask 0.
TEST(InstanceRecords, NonFiniteTransformsGiveInactiveInstances) {
    for (const float bad : {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity()}) {
        for (const bool at_close : {false, true}) {
            Instance inst = sample_instance();
            inst.moving = at_close;
            (at_close ? inst.transform_end : inst.transform)[5] = bad;
            // A still instance's motion record wraps the static one at byte 8.
            const size_t base = at_close ? 0 : 8, index = at_close ? 104 : 48, blas = at_close ? 112 : 56;
            const VkAccelerationStructureMotionInstanceNV m = make_motion_instance_record(inst, 3, kBlas);
            EXPECT_EQ(at<uint32_t>(m, base + index), 3u) << bad << at_close;
            EXPECT_EQ(at<uint64_t>(m, base + blas), 0u) << bad << at_close;
            if (at_close) continue;
            const VkAccelerationStructureInstanceKHR r = make_static_instance_record(inst, 3, kBlas);
            EXPECT_EQ(at<uint32_t>(r, index), 3u) << bad;
            EXPECT_EQ(at<uint64_t>(r, blas), 0u) << bad;
        }
    }
}

TEST(InstanceRecords, CountsBeyondTheCustomIndexAreRefused) {
    EXPECT_NO_THROW(check_instance_count(size_t{1} << 24));
    try {
        check_instance_count((size_t{1} << 24) + 1);
        FAIL() << "an instance count that aliases custom indices was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Scene has 16777217 instances; at most 16777216 can be traced");
    }
}

TEST(InstanceRecords, MovingInstanceMotionRecordBytes) {
    Instance inst = sample_instance();
    inst.moving = true;
    const VkAccelerationStructureMotionInstanceNV r = make_motion_instance_record(inst, 3, kBlas);
    ASSERT_EQ(sizeof(r), 152u);
    EXPECT_EQ(at<uint32_t>(r, 0), 1u);  // VK_ACCELERATION_STRUCTURE_MOTION_INSTANCE_TYPE_MATRIX_MOTION_NV
    EXPECT_EQ(at<uint32_t>(r, 4), 0u);  // the motion record's own flags
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(at<float>(r, 8 + 4 * i), inst.transform[i]);
        EXPECT_EQ(at<float>(r, 56 + 4 * i), inst.transform_end[i]);
    }
    EXPECT_EQ(at<uint32_t>(r, 104), 3u | (0xFFu << 24));
    EXPECT_EQ(at<uint32_t>(r, 108), kCullDisable << 24);
    EXPECT_EQ(at<uint64_t>(r, 112), kBlas);
    for (size_t b = 120; b < 152; ++b) EXPECT_EQ(at<uint8_t>(r, b), 0u) << b;
}

TEST(InstanceRecords, MotionRecordsArePackedAtTheBuildStride) {
    Scene scene;
    scene.instances.assign(3, sample_instance());
    scene.instances[0].moving = true;
    scene.instances[1].mesh = 1;
    scene.instances[2].mesh = 7;  // no BLAS known: inactive
    const std::vector<VkDeviceAddress> blas = {kBlas, kBlas + 0x100};
    const std::vector<uint8_t> bytes = pack_motion_instance_records(scene, blas);
    ASSERT_EQ(kMotionInstanceStride, 160u);
    ASSERT_EQ(bytes.size(), 3 * kMotionInstanceStride);
    const VkDeviceAddress expectedBlas[] = {kBlas, kBlas + 0x100, 0};
    for (uint32_t i = 0; i < 3; ++i) {
        const VkAccelerationStructureMotionInstanceNV expected =
            make_motion_instance_record(scene.instances[i], i, expectedBlas[i]);
        const uint8_t* record = bytes.data() + i * kMotionInstanceStride;
        EXPECT_EQ(std::memcmp(record, &expected, sizeof(expected)), 0) << "record " << i;
        for (size_t b = sizeof(expected); b < kMotionInstanceStride; ++b)
            EXPECT_EQ(record[b], 0u) << "record " << i << " byte " << b;
    }
    // A still instance's record is the static record behind the static
    // type, zeros after it.
    const uint8_t* still = bytes.data() + kMotionInstanceStride;
    const VkAccelerationStructureInstanceKHR wrapped = make_static_instance_record(scene.instances[1], 1, kBlas + 0x100);
    EXPECT_EQ(at<uint32_t>(*still, 0), 0u);  // VK_ACCELERATION_STRUCTURE_MOTION_INSTANCE_TYPE_STATIC_NV
    EXPECT_EQ(at<uint32_t>(*still, 4), 0u);
    EXPECT_EQ(std::memcmp(still + 8, &wrapped, sizeof(wrapped)), 0);
    for (size_t b = 8 + sizeof(wrapped); b < kMotionInstanceStride; ++b) EXPECT_EQ(still[b], 0u) << b;
}

TEST(GeometryPack, ShortAttributesAreAbsentAndLongOnesCut) {
    Scene scene;
    MeshData m;
    m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    m.indices = {0, 1, 2};
    m.normals = {0, 0, 1, 0, 0, 1};  // two of three vertices
    m.has_normals = true;
    m.uvs = {0, 0, 1, 0, 0, 1, 9, 9};  // one extra vertex
    m.has_uvs = true;
    m.tangents = {1, 0, 0, 1, 0, 0, 1, 0, 0};
    m.has_tangents = false;  // present but not flagged
    scene.meshes = {m, m};
    const GeometryPack pack = pack_geometry(scene);
    EXPECT_EQ(pack.offsets[1].normalOffset, NO_ATTRIBUTE);
    EXPECT_EQ(pack.offsets[0].uvOffset, 0u);
    EXPECT_EQ(pack.offsets[1].uvOffset, 3u);
    EXPECT_EQ(pack.uvs.size(), 12u);
    EXPECT_EQ(pack.offsets[1].tangentOffset, NO_ATTRIBUTE);
    EXPECT_TRUE(pack.normals.empty());
}

TEST(GeometryPack, FaceNormalsAndPartialRecordsAreMadeWhole) {
    Scene scene;
    MeshData m;
    m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 5};  // a stray float after 3 vertices
    m.indices = {0, 1, 2, 2, 1, 0, 1};             // a stray index after 2 triangles
    m.face_normals = {0, 0, 1};                    // one of two triangles
    scene.meshes = {m, m};
    const GeometryPack pack = pack_geometry(scene);
    EXPECT_EQ(pack.positions.size(), 18u);
    EXPECT_EQ(pack.indices.size(), 12u);
    EXPECT_EQ(pack.offsets[1].vertexOffset, 3u);
    EXPECT_EQ(pack.offsets[1].indexOffset, 6u);
    EXPECT_EQ(pack.offsets[1].faceOffset, 2u);
    EXPECT_EQ(pack.faceNormals, (std::vector<float>{0, 0, 1, 0, 1, 0, 0, 0, 1, 0, 1, 0}));
    EXPECT_EQ(pack.degenerateTriangles, 0u);
}

Scene env_scene(int32_t w, int32_t h) {
    Scene scene;
    scene.envmap_texture = 2;
    scene.env_cdf_width = w;
    scene.env_cdf_height = h;
    scene.env_marginal_cdf.assign(static_cast<size_t>(h), 1u);
    scene.env_row_weights.assign(static_cast<size_t>(h), 0.5f);
    scene.env_conditional_cdf.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 2u);
    return scene;
}

TEST(EnvBlock, TablesThatDoNotMatchTheirSizeGiveTheZeroBlock) {
    const std::vector<uint32_t> zero(16, 0u);
    Scene shortMarginal = env_scene(3, 2);
    shortMarginal.env_marginal_cdf.pop_back();
    EXPECT_EQ(build_env_block(shortMarginal), zero);
    Scene shortRows = env_scene(3, 2);
    shortRows.env_row_weights.clear();
    EXPECT_EQ(build_env_block(shortRows), zero);
    Scene longConditional = env_scene(3, 2);
    longConditional.env_conditional_cdf.push_back(7);
    EXPECT_EQ(build_env_block(longConditional), zero);
    // A huge recorded size without tables allocates nothing large.
    Scene unbacked = env_scene(1, 1);
    unbacked.env_cdf_width = 1 << 30;
    unbacked.env_cdf_height = 1 << 30;
    EXPECT_EQ(build_env_block(unbacked), zero);
}

TEST(Emissives, EntryOfAMissingInstanceHasNoTriangles) {
    Scene scene;
    scene.emissive_instances = {{4, 1.0f, {}}};
    const std::vector<GpuEmissive> records = build_gpu_emissives(scene);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].triangle_count, 0u);
    EXPECT_EQ(records[0].select_pdf, 1.0f);
}

// Runs: consecutive still, finite instances of small meshes that share a
// transform; anything else closes the run, and a run needs two members.
TEST(MergedRuns, FormOnlyWhereInstancesShareAStillTransform) {
    Scene scene;
    scene.instances.assign(11, Instance{});
    const uint32_t meshOf[11] = {0, 1, 0, 2, 1, 1, 3, 1, 0, 1, 1};
    for (size_t i = 0; i < 11; ++i) scene.instances[i].mesh = meshOf[i];
    // Mesh 2 has no triangles, mesh 3 too many.
    const std::vector<uint32_t> triangles = {2, 12, 0, kMaxMergedMeshTriangles + 1};
    scene.instances[5].transform[3] = 1.0f;  // 5 and 6 sit elsewhere than 4
    scene.instances[6].transform[3] = 1.0f;
    scene.instances[7].transform[3] = std::numeric_limits<float>::quiet_NaN();
    scene.instances[9].moving = true;
    const std::vector<MergedRun> runs = find_merged_runs(scene, triangles);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].first, 0u);
    EXPECT_EQ(runs[0].meshes, (std::vector<uint32_t>{0, 1, 0}));
    EXPECT_TRUE(merged_run_holds(scene, runs[0]));

    // Moving every member keeps the run; moving one, or a member turning
    // into a moving instance or another mesh, breaks it.
    for (int k = 0; k < 3; ++k) scene.instances[k].transform[7] = 4.0f;
    EXPECT_TRUE(merged_run_holds(scene, runs[0]));
    Scene moved = scene;
    moved.instances[1].transform[7] = 5.0f;
    EXPECT_FALSE(merged_run_holds(moved, runs[0]));
    moved = scene;
    moved.instances[2].moving = true;
    EXPECT_FALSE(merged_run_holds(moved, runs[0]));
    moved = scene;
    moved.instances[2].mesh = 1;
    EXPECT_FALSE(merged_run_holds(moved, runs[0]));
    moved.instances.resize(2);
    EXPECT_FALSE(merged_run_holds(moved, runs[0]));

    // The run's BLAS at its first member, inactive records at the others;
    // a broken run falls back to the members' own BLAS.
    const std::vector<VkDeviceAddress> meshBlas = {kBlas, kBlas + 0x100, 0, kBlas + 0x300};
    const VkDeviceAddress runBlas = kBlas + 0x1000;
    std::vector<VkDeviceAddress> expected = {runBlas, 0, 0, 0, kBlas + 0x100, kBlas + 0x100,
                                             kBlas + 0x300, kBlas + 0x100, kBlas, kBlas + 0x100,
                                             kBlas + 0x100};
    EXPECT_EQ(instance_blas_addresses(scene, meshBlas, runs, {runBlas}), expected);
    scene.instances[1].transform[7] = 5.0f;
    expected[0] = kBlas;
    expected[1] = kBlas + 0x100;
    expected[2] = kBlas;
    EXPECT_EQ(instance_blas_addresses(scene, meshBlas, runs, {runBlas}), expected);
}

TEST(MergedRuns, CloseAtTheTriangleCap) {
    constexpr uint32_t kPerRun = kMaxMergedRunTriangles / kMaxMergedMeshTriangles;
    Scene scene;
    scene.instances.assign(kPerRun + 3, Instance{});
    const std::vector<MergedRun> runs = find_merged_runs(scene, {kMaxMergedMeshTriangles});
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].first, 0u);
    EXPECT_EQ(runs[0].meshes.size(), kPerRun);
    EXPECT_EQ(runs[1].first, kPerRun);
    EXPECT_EQ(runs[1].meshes.size(), 3u);
}

}  // namespace
