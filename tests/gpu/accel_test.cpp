// Acceleration structures on the real device: rays fired through a ray-query
// probe hit what the scene says, where it says.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "gpu/gpu_records.h"
#include "gpu_test_support.h"
#include "ray_probe.h"
#include "scene/scene.h"

namespace {

using ::testing::HasSubstr;

constexpr float kEyeZ = 5.0f;
constexpr float kBaryTolerance = 1e-4f;

// Unit quad in z = 0: triangles (0,1,2) and (0,2,3).
MeshData quad(bool withUvs) {
    MeshData m;
    m.positions = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0};
    m.indices = {0, 1, 2, 0, 2, 3};
    m.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
    m.has_normals = true;
    if (withUvs) {
        m.uvs = {0, 0, 1, 0, 1, 1, 0, 1};
        m.has_uvs = true;
    }
    compute_face_normals(m);
    return m;
}

// Right triangle (0,0,0), (1,0,0), (0,1,0) without uvs.
MeshData corner() {
    MeshData m;
    m.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    m.indices = {0, 1, 2};
    compute_face_normals(m);
    return m;
}

Instance place(uint32_t mesh, float scale, float x, int32_t material) {
    Instance inst;
    inst.mesh = mesh;
    inst.transform[0] = inst.transform[5] = inst.transform[10] = scale;
    inst.transform[3] = x;
    inst.material = material;
    return inst;
}

// Two meshes, three instances: the quad at the origin, the triangle scaled
// by 2 and moved to x = 5, the quad again at x = 10.
Scene two_mesh_scene() {
    Scene s;
    s.meshes = {quad(true), corner()};
    s.instances = {place(0, 1, 0, 3), place(1, 2, 5, 4), place(0, 1, 10, 7)};
    s.instances[0].has_face_materials = true;
    s.instances[0].face_materials = {5, 6};
    s.instances[2].has_face_materials = true;
    s.instances[2].face_materials = {8};  // one short of the mesh's two triangles
    s.emissive_instances = {{2, 1.0f, {}}, {0, 1.0f, {}}, {2, 1.0f, {}}};
    return s;
}

ProbeRay down_at(float x, float y) { return ProbeRay{{x, y, kEyeZ}, {0, 0, -1}}; }

void expect_hit(const ProbeHit& hit, int instance, int primitive, float u, float v,
                const char* what) {
    EXPECT_EQ(hit.instance, instance) << what;
    EXPECT_EQ(hit.primitive, primitive) << what;
    EXPECT_NEAR(hit.u, u, kBaryTolerance) << what;
    EXPECT_NEAR(hit.v, v, kBaryTolerance) << what;
    EXPECT_NEAR(hit.t, kEyeZ, 1e-4f) << what;
}

class AccelTest : public GpuTest {
protected:
    std::string build(const Scene& scene) {
        return capture_stdout([&] { renderer->buildAccelerationStructures(scene); });
    }
};

TEST_F(AccelTest, RaysHitInstancesPrimitivesAndBarycentrics) {
    const Scene scene = two_mesh_scene();
    EXPECT_THAT(build(scene), HasSubstr("Built 2 BLAS\n"));
    EXPECT_FALSE(renderer->useMotionBlur);
    RayProbe probe(*renderer);
    const std::vector<ProbeHit> hits = probe.trace({
        down_at(0.75f, 0.25f),   // quad, triangle (0,1,2): p = (u + v, v)
        down_at(0.25f, 0.75f),   // quad, triangle (0,2,3): p = (u, u + v)
        down_at(5.2f, 1.0f),     // scaled triangle: local (0.1, 0.5)
        down_at(10.75f, 0.25f),  // second quad instance
        down_at(5.9f, 1.9f),     // outside the scaled triangle
        down_at(3.0f, 0.5f),     // between instances
    });
    expect_hit(hits[0], 0, 0, 0.5f, 0.25f, "quad lower triangle");
    expect_hit(hits[1], 0, 1, 0.25f, 0.5f, "quad upper triangle");
    expect_hit(hits[2], 1, 0, 0.1f, 0.5f, "transformed triangle");
    expect_hit(hits[3], 2, 0, 0.5f, 0.25f, "second quad instance");
    EXPECT_EQ(hits[4].instance, -1);
    EXPECT_EQ(hits[5].instance, -1);
}

TEST_F(AccelTest, RebuiltTlasFollowsAMovedInstance) {
    Scene scene = two_mesh_scene();
    build(scene);
    RayProbe probe(*renderer);
    scene.instances[1].transform[3] = 20.0f;
    renderer->rebuildTLAS(scene);
    const std::vector<ProbeHit> hits =
        probe.trace({down_at(5.2f, 1.0f), down_at(20.2f, 1.0f), down_at(0.75f, 0.25f)});
    EXPECT_EQ(hits[0].instance, -1) << "old place of the moved instance";
    expect_hit(hits[1], 1, 0, 0.1f, 0.5f, "new place of the moved instance");
    expect_hit(hits[2], 0, 0, 0.5f, 0.25f, "unmoved instance");
}

TEST_F(AccelTest, InstanceRecordsAndGeometryBuffersReadBack) {
    const Scene scene = two_mesh_scene();
    build(scene);
    const std::vector<uint8_t> info = download<uint8_t>(renderer->instanceInfoBuffer);
    ASSERT_EQ(info.size(), 3u * 36);
    struct Expected {
        int32_t material;
        uint32_t face, index, vertex;
        int32_t faceMaterialStart, emissive;
        uint32_t normal, uv, tangent;
    };
    const uint32_t none = 0xFFFFFFFFu;
    const Expected expected[3] = {
        {3, 0, 0, 0, 0, 1, 0, 0, none},
        {4, 2, 6, 4, -1, -1, none, none, none},  // second mesh, no uvs
        {7, 0, 0, 0, 2, 2, 0, 0, none},          // listed twice as emissive: last entry
    };
    for (size_t i = 0; i < 3; ++i) {
        const size_t b = 36 * i;
        const Expected& e = expected[i];
        EXPECT_EQ(at<int32_t>(info, b + 0), e.material) << i;
        EXPECT_EQ(at<uint32_t>(info, b + 4), e.face) << i;
        EXPECT_EQ(at<uint32_t>(info, b + 8), e.index) << i;
        EXPECT_EQ(at<uint32_t>(info, b + 12), e.vertex) << i;
        EXPECT_EQ(at<int32_t>(info, b + 16), e.faceMaterialStart) << i;
        EXPECT_EQ(at<int32_t>(info, b + 20), e.emissive) << i;
        EXPECT_EQ(at<uint32_t>(info, b + 24), e.normal) << i;
        EXPECT_EQ(at<uint32_t>(info, b + 28), e.uv) << i;
        EXPECT_EQ(at<uint32_t>(info, b + 32), e.tangent) << i;
    }
    // Face materials: instance 0's two, then instance 2's one padded with its
    // own material to the mesh's two triangles.
    EXPECT_EQ(download<int32_t>(renderer->faceMaterialBuffer), (std::vector<int32_t>{5, 6, 8, 7}));
    // Indices stay mesh-local; the second mesh's vertices start 48 bytes in.
    EXPECT_EQ(download<uint32_t>(renderer->indexBuffer),
              (std::vector<uint32_t>{0, 1, 2, 0, 2, 3, 0, 1, 2}));
    const std::vector<float> positions = download<float>(renderer->positionBuffer);
    ASSERT_EQ(positions.size(), 21u);
    EXPECT_EQ(std::vector<float>(positions.begin() + 12, positions.end()),
              scene.meshes[1].positions);
    EXPECT_EQ(download<float>(renderer->uvBuffer), scene.meshes[0].uvs);
    EXPECT_EQ(download<uint32_t>(renderer->tangentBuffer), std::vector<uint32_t>{0u});
    EXPECT_EQ(download<float>(renderer->faceNormalBuffer).size(), 9u);
    ASSERT_EQ(renderer->meshOffsets.size(), 2u);
    EXPECT_EQ(renderer->meshOffsets[1].vertexOffset, 4u);
}

TEST_F(AccelTest, ReuploadedInstanceDataFollowsTheScene) {
    Scene scene = two_mesh_scene();
    build(scene);
    scene.instances[1].material = 9;
    scene.emissive_instances = {{1, 1.0f, {}}};
    renderer->reuploadInstanceData(scene);
    const std::vector<uint8_t> info = download<uint8_t>(renderer->instanceInfoBuffer);
    EXPECT_EQ(at<int32_t>(info, 36 + 0), 9);
    EXPECT_EQ(at<int32_t>(info, 36 + 20), 0);
    EXPECT_EQ(at<int32_t>(info, 72 + 20), -1);
    EXPECT_EQ(at<int32_t>(info, 72 + 16), 2);
}

TEST_F(AccelTest, OutOfRangeIndicesBecomeUnhittableDegenerateTriangles) {
    Scene scene;
    MeshData m = quad(false);
    m.indices = {0, 1, 2, 0, 2, 9};  // vertex 9 does not exist
    compute_face_normals(m);
    scene.meshes = {m};
    scene.instances = {place(0, 1, 0, 0)};
    build(scene);
    EXPECT_EQ(download<uint32_t>(renderer->indexBuffer),
              (std::vector<uint32_t>{0, 1, 2, 0, 0, 0}));
    RayProbe probe(*renderer);
    const std::vector<ProbeHit> hits = probe.trace({down_at(0.75f, 0.25f), down_at(0.25f, 0.75f)});
    expect_hit(hits[0], 0, 0, 0.5f, 0.25f, "valid triangle");
    EXPECT_EQ(hits[1].instance, -1) << "the broken triangle must not be hit";
}

TEST_F(AccelTest, MeshesWithoutGeometryGetNoBlasAndInactiveInstances) {
    Scene scene;
    scene.meshes = {MeshData{}, quad(false)};
    scene.instances = {place(0, 1, 0, 0), place(1, 1, 0, 1)};
    build(scene);
    ASSERT_EQ(renderer->blasList.size(), 2u);
    EXPECT_EQ(renderer->blasList[0].handle, VK_NULL_HANDLE);
    EXPECT_NE(renderer->blasList[1].handle, VK_NULL_HANDLE);
    RayProbe probe(*renderer);
    const std::vector<ProbeHit> hits = probe.trace({down_at(0.75f, 0.25f)});
    expect_hit(hits[0], 1, 0, 0.5f, 0.25f, "the instance with geometry");
}

TEST_F(AccelTest, SceneWithoutAnyGeometryBindsPlaceholders) {
    Scene scene;
    scene.meshes = {MeshData{}};
    scene.instances = {place(0, 1, 0, 0)};
    build(scene);
    for (const AllocatedBuffer* b : {&renderer->positionBuffer, &renderer->indexBuffer,
                                     &renderer->faceNormalBuffer, &renderer->normalBuffer,
                                     &renderer->uvBuffer, &renderer->tangentBuffer,
                                     &renderer->faceMaterialBuffer, &renderer->instanceInfoBuffer}) {
        EXPECT_NE(b->buffer, VK_NULL_HANDLE);
        EXPECT_GT(b->size, 0u);
    }
    EXPECT_NE(renderer->tlas, VK_NULL_HANDLE);
    RayProbe probe(*renderer);
    EXPECT_EQ(probe.trace({down_at(0.5f, 0.5f)})[0].instance, -1);
}

TEST_F(AccelTest, NoInstancesBuildsNothing) {
    Scene scene;
    scene.meshes = {quad(true)};
    EXPECT_EQ(build(scene), "");
    EXPECT_TRUE(renderer->blasList.empty());
    EXPECT_EQ(renderer->tlas, VK_NULL_HANDLE);
    EXPECT_EQ(renderer->positionBuffer.buffer, VK_NULL_HANDLE);
    EXPECT_EQ(renderer->instanceInfoBuffer.buffer, VK_NULL_HANDLE);
}

TEST_F(AccelTest, InstanceOfAMissingMeshFailsClearly) {
    Scene scene;
    scene.meshes = {quad(true)};
    scene.instances = {place(0, 1, 0, 0), place(3, 1, 0, 0)};
    try {
        build(scene);
        FAIL() << "an instance of mesh 3 was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Instance 1 uses mesh 3 of 1");
    }
}

TEST_F(AccelTest, BatchedAndOneByOneBlasBuildsTraceAlike) {
    Scene scene;
    for (int m = 0; m < 12; ++m) {
        scene.meshes.push_back(m % 2 ? quad(false) : corner());
        scene.instances.push_back(place(static_cast<uint32_t>(m), 1, 2.0f * m, m));
    }
    std::vector<ProbeRay> rays;
    for (int m = 0; m < 12; ++m) rays.push_back(down_at(2.0f * m + 0.2f, 0.3f));

    renderer->blasScratchBudget = 0;
    build(scene);
    std::vector<ProbeHit> oneByOne;
    {
        RayProbe probe(*renderer);
        oneByOne = probe.trace(rays);
    }
    renderer->blasScratchBudget = VkDeviceSize{64} << 20;
    build(scene);  // a repeated build replaces the first
    RayProbe probe(*renderer);
    const std::vector<ProbeHit> batched = probe.trace(rays);
    for (size_t i = 0; i < rays.size(); ++i) {
        EXPECT_EQ(oneByOne[i].instance, static_cast<int>(i));
        EXPECT_EQ(batched[i].instance, oneByOne[i].instance);
        EXPECT_EQ(batched[i].primitive, oneByOne[i].primitive);
        EXPECT_FLOAT_EQ(batched[i].u, oneByOne[i].u);
        EXPECT_FLOAT_EQ(batched[i].v, oneByOne[i].v);
    }
}

// Three meshes placed apart in object space, all instanced at one transform
// (merged), then the quad once more elsewhere.
Scene shared_transform_scene() {
    Scene s;
    MeshData apart = corner();
    for (size_t v = 0; v < apart.positions.size(); v += 3) apart.positions[v] += 3.0f;
    MeshData far = quad(false);
    for (size_t v = 0; v < far.positions.size(); v += 3) far.positions[v] += 6.0f;
    s.meshes = {quad(false), apart, far};
    s.instances = {place(0, 1, 0, 0), place(1, 1, 0, 1), place(2, 1, 0, 2), place(0, 1, 10, 3)};
    return s;
}

// A hit reports the member's own instance and primitive whether the members
// are traced through one BLAS or their own, before and after the host moves
// one member (the run then falls apart) or all of them (it holds).
TEST_F(AccelTest, InstancesSharingATransformKeepTheirIdentityInOneBlas) {
    const std::vector<ProbeRay> rays = {down_at(0.75f, 0.25f), down_at(3.2f, 0.5f), down_at(6.25f, 0.75f),
                                        down_at(10.75f, 0.25f)};
    auto expect_members = [&](float dx, const char* what) {
        RayProbe probe(*renderer);
        std::vector<ProbeRay> moved = rays;
        for (int k = 0; k < 3; ++k) moved[k].origin[0] += dx;
        const std::vector<ProbeHit> hits = probe.trace(moved);
        expect_hit(hits[0], 0, 0, 0.5f, 0.25f, what);
        expect_hit(hits[1], 1, 0, 0.2f, 0.5f, what);
        expect_hit(hits[2], 2, 1, 0.25f, 0.5f, what);
        expect_hit(hits[3], 3, 0, 0.5f, 0.25f, what);
    };
    for (const bool merge : {true, false}) {
        renderer->mergeStaticInstances = merge;
        Scene scene = shared_transform_scene();
        EXPECT_THAT(build(scene), HasSubstr("Built 3 BLAS\n"));
        ASSERT_EQ(renderer->mergedBlasList.size(), merge ? 1u : 0u);
        if (merge) {
            EXPECT_EQ(renderer->mergedBlasList[0].run.meshes, (std::vector<uint32_t>{0, 1, 2}));
        }
        expect_members(0.0f, merge ? "merged" : "one BLAS each");

        for (int k = 0; k < 3; ++k) scene.instances[k].transform[3] = 20.0f;
        renderer->rebuildTLAS(scene);
        expect_members(20.0f, "all members moved");

        scene.instances[1].transform[3] = 40.0f;
        renderer->rebuildTLAS(scene);
        RayProbe probe(*renderer);
        const std::vector<ProbeHit> hits =
            probe.trace({down_at(20.75f, 0.25f), down_at(23.2f, 0.5f), down_at(43.2f, 0.5f)});
        expect_hit(hits[0], 0, 0, 0.5f, 0.25f, "member left behind");
        EXPECT_EQ(hits[1].instance, -1) << "old place of the member moved alone";
        expect_hit(hits[2], 1, 0, 0.2f, 0.5f, "member moved alone");
    }
}

Scene scene_with_moving_instance() {
    Scene scene = two_mesh_scene();
    Instance& inst = scene.instances[1];
    std::memcpy(inst.transform_end, inst.transform, sizeof(inst.transform));
    inst.transform_end[3] = 30.0f;
    inst.moving = true;
    return scene;
}

// Any device can be treated as one without motion blur (lavapipe is one).
TEST_F(AccelTest, MovingInstancesAreTracedAtTheirStartTransformWithoutMotionSupport) {
    renderer->hasMotionBlur = false;
    build(scene_with_moving_instance());
    EXPECT_TRUE(renderer->useMotionBlur);
    EXPECT_EQ(renderer->instanceBuffer.size, 3u * sizeof(VkAccelerationStructureInstanceKHR));
    RayProbe probe(*renderer);
    const std::vector<ProbeHit> hits = probe.trace({down_at(5.2f, 1.0f), down_at(30.2f, 1.0f)});
    EXPECT_EQ(hits[0].instance, 1);
    EXPECT_EQ(hits[1].instance, -1);
}

TEST_F(AccelTest, MotionDevicesBuildAMotionTlasFromStridedRecords) {
    if (!renderer->hasMotionBlur) GTEST_SKIP() << "device has no ray-tracing motion blur";
    build(scene_with_moving_instance());
    EXPECT_TRUE(renderer->useMotionBlur);
    EXPECT_EQ(renderer->instanceBuffer.size, 3u * kMotionInstanceStride);
    EXPECT_NE(renderer->tlas, VK_NULL_HANDLE);
}

TEST_F(AccelTest, SceneResourcesReleaseEveryStructure) {
    build(two_mesh_scene());
    renderer->destroySceneResources();
    EXPECT_TRUE(renderer->blasList.empty());
    EXPECT_EQ(renderer->tlas, VK_NULL_HANDLE);
    EXPECT_EQ(renderer->tlasBuffer.buffer, VK_NULL_HANDLE);
    EXPECT_EQ(renderer->instanceBuffer.buffer, VK_NULL_HANDLE);
    EXPECT_EQ(renderer->positionBuffer.buffer, VK_NULL_HANDLE);
    EXPECT_TRUE(renderer->meshOffsets.empty());
}

}  // namespace
