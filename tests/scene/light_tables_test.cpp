// Emissive instances, triangle areas and the triangle and light selection
// CDFs.
#include "scene_test_util.h"

namespace {

constexpr uint32_t kLast = 0xFFFFFFFFu;

// A CDF the GPU programs pick from (the first entry not below a uniform
// 32-bit number): running sums of the weights over their total, the last
// entry the largest value.
void expect_cdf(const std::vector<uint32_t>& cdf, const std::vector<double>& weights, double tolerance = 1e-9) {
    ASSERT_EQ(cdf.size(), weights.size());
    double total = 0.0, running = 0.0;
    for (double w : weights) total += w;
    for (size_t i = 0; i + 1 < cdf.size(); ++i) {
        running += weights[i];
        EXPECT_NEAR(cdf[i] / 4294967295.0, running / total, tolerance) << "entry " << i;
    }
    EXPECT_EQ(cdf.back(), kLast);
}

// Appends the right triangle (0,0,0), (legx,0,0), (0,legy,0) as its own three
// vertices; its area is legx * legy / 2.
void add_right_triangle(MeshData& mesh, float legx, float legy) {
    const uint32_t base = static_cast<uint32_t>(mesh.vertex_count());
    const float p[9] = {0, 0, 0, legx, 0, 0, 0, legy, 0};
    mesh.positions.insert(mesh.positions.end(), p, p + 9);
    for (uint32_t i = 0; i < 3; ++i) mesh.indices.push_back(base + i);
}

int add_material(Scene& scene, float r, float g, float b) {
    Material m;
    m.emission[0] = r;
    m.emission[1] = g;
    m.emission[2] = b;
    scene.materials.push_back(m);
    return static_cast<int>(scene.materials.size() - 1);
}

void add_instance(Scene& scene, uint32_t mesh, int material, float scale = 1.0f) {
    Instance inst;
    inst.mesh = mesh;
    inst.material = material;
    inst.transform[0] = scale;
    inst.transform[5] = scale;
    inst.transform[10] = scale;
    inst.transform[3] = 5.0f;  // a translation changes no area
    scene.instances.push_back(inst);
}

TEST(EmissiveInstances, SingleTriangleIsOneLightWithFullCdf) {
    Scene scene;
    MeshData mesh;
    add_right_triangle(mesh, 1.0f, 1.0f);
    scene.meshes.push_back(mesh);
    add_instance(scene, 0, add_material(scene, 1, 1, 1), 2.0f);
    const std::string out = scene_test::prepare(scene);
    EXPECT_EQ(out, "Scene buffer: 1 lights, 0 DE, 1 meshes, 1 instances\n");
    ASSERT_EQ(scene.emissive_instances.size(), 1u);
    EXPECT_EQ(scene.emissive_instances[0].instance, 0u);
    EXPECT_FLOAT_EQ(scene.emissive_instances[0].area, 2.0f);
    EXPECT_EQ(scene.emissive_instances[0].tri_cdf, std::vector<uint32_t>{kLast});
    EXPECT_EQ(scene.emissive_tri_cdf, std::vector<uint32_t>{kLast});
    EXPECT_EQ(scene.light_pdf, std::vector<float>{1.0f});
    EXPECT_EQ(scene.light_cdf, std::vector<uint32_t>{kLast});
    EXPECT_EQ(scene.scene_params[0], 1.0f);
    EXPECT_EQ(scene.scene_params[23], 1.0f);
    EXPECT_EQ(scene.scene_params[24], 0.0f);
}

TEST(EmissiveInstances, DegenerateShortOrDarkInstancesAreNotLights) {
    Scene scene;
    MeshData line;  // three points on a line
    line.positions = {0, 0, 0, 1, 1, 1, 2, 2, 2};
    line.indices = {0, 1, 2, 2, 1, 0};
    scene.meshes.push_back(line);
    MeshData short_mesh;
    short_mesh.positions = {0, 0, 0, 1, 0, 0};
    short_mesh.indices = {0, 1};
    scene.meshes.push_back(short_mesh);
    MeshData good;
    add_right_triangle(good, 1, 1);
    scene.meshes.push_back(good);
    const int bright = add_material(scene, 1, 0, 0);
    const int dark = add_material(scene, 0, 0, 0);
    add_instance(scene, 0, bright);
    add_instance(scene, 1, bright);
    add_instance(scene, 2, dark);
    add_instance(scene, 7, bright);    // no such mesh
    add_instance(scene, 2, 9);         // no such material
    add_instance(scene, 2, -1);        // negative material id
    const std::string out = scene_test::prepare(scene);
    EXPECT_EQ(out, "Scene buffer: 0 lights, 0 DE, 3 meshes, 6 instances\n");
    EXPECT_TRUE(scene.emissive_instances.empty());
    EXPECT_TRUE(scene.emissive_tri_cdf.empty());
    EXPECT_TRUE(scene.light_cdf.empty());
}

TEST(EmissiveInstances, TriangleWithIndexAtVertexCountHasZeroArea) {
    Scene scene;
    MeshData mesh;
    mesh.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    mesh.indices = {0, 1, 3, 0, 1, 2, 0xFFFFFFFFu, 1, 2};
    scene.meshes.push_back(mesh);
    add_instance(scene, 0, add_material(scene, 1, 1, 1));
    scene_test::prepare(scene);
    ASSERT_EQ(scene.emissive_instances.size(), 1u);
    EXPECT_FLOAT_EQ(scene.emissive_instances[0].area, 0.5f);
    EXPECT_EQ(scene.emissive_instances[0].tri_cdf, (std::vector<uint32_t>{0, kLast, kLast}));

    TriangleAreas work;
    EXPECT_DOUBLE_EQ(compute_triangle_areas(mesh, scene.instances[0].transform, work), 0.5);
    EXPECT_EQ(work.areas, (std::vector<float>{0.0f, 0.5f, 0.0f}));
}

// Triangles whose area is NaN or infinite weigh nothing, an instance made
// only of such triangles is no light, and an infinite emission is never
// sampled: no table holds NaN or infinity.
TEST(EmissiveInstances, NonFiniteAreasAndPowersWeighNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Scene scene;
    MeshData mixed;
    mixed.positions = {nan, 0, 0, 1, 0, 0, 0, 1, 0};  // NaN vertex
    mixed.indices = {0, 1, 2};
    add_right_triangle(mixed, 1, 1);
    add_right_triangle(mixed, 1e30f, 1e30f);  // area overflows a float
    scene.meshes.push_back(mixed);
    MeshData bad;
    bad.positions = mixed.positions;
    bad.indices = {0, 1, 2, 0, 0, 0};
    scene.meshes.push_back(bad);
    const int light = add_material(scene, 1, 1, 1);
    add_instance(scene, 0, light);
    add_instance(scene, 1, light);
    add_instance(scene, 0, add_material(scene, std::numeric_limits<float>::infinity(), 0, 0));
    scene_test::prepare(scene);
    ASSERT_EQ(scene.emissive_instances.size(), 2u);
    EXPECT_EQ(scene.emissive_instances[0].area, 0.5f);
    EXPECT_EQ(scene.emissive_instances[0].tri_cdf, (std::vector<uint32_t>{0, kLast, kLast}));
    EXPECT_EQ(scene.emissive_instances[1].instance, 2u);
    EXPECT_EQ(scene.light_pdf, (std::vector<float>{1.0f, 0.0f}));
    EXPECT_EQ(scene.light_cdf, (std::vector<uint32_t>{kLast, kLast}));
}

TEST(EmissiveInstances, TriangleCdfsAreConcatenatedInInstanceOrder) {
    Scene scene;
    MeshData two, three;
    add_right_triangle(two, 1, 1);
    add_right_triangle(two, 3, 1);
    for (int i = 1; i <= 3; ++i) add_right_triangle(three, static_cast<float>(i), 1);
    scene.meshes = {two, three};
    const int light = add_material(scene, 1, 1, 1);
    add_instance(scene, 1, light);
    add_instance(scene, 0, add_material(scene, 0, 0, 0));
    add_instance(scene, 0, light);
    scene_test::prepare(scene);
    ASSERT_EQ(scene.emissive_instances.size(), 2u);
    EXPECT_EQ(scene.emissive_instances[0].instance, 0u);
    EXPECT_EQ(scene.emissive_instances[1].instance, 2u);
    std::vector<uint32_t> joined = scene.emissive_instances[0].tri_cdf;
    joined.insert(joined.end(), scene.emissive_instances[1].tri_cdf.begin(),
                  scene.emissive_instances[1].tri_cdf.end());
    EXPECT_EQ(scene.emissive_tri_cdf, joined);
    expect_cdf(scene.emissive_instances[0].tri_cdf, {1, 2, 3});
    expect_cdf(scene.emissive_instances[1].tri_cdf, {1, 3});
}

// The documented arithmetic, written out plainly: transform the three
// vertices, subtract, cross, length, halve.
float reference_area(const MeshData& mesh, const float* m, size_t t) {
    float p[3][3];
    for (int k = 0; k < 3; ++k) {
        const float* v = &mesh.positions[3 * size_t{mesh.indices[3 * t + k]}];
        for (int r = 0; r < 3; ++r) {
            p[k][r] = m[4 * r] * v[0] + m[4 * r + 1] * v[1] + m[4 * r + 2] * v[2] + m[4 * r + 3];
        }
    }
    float e1[3], e2[3];
    for (int r = 0; r < 3; ++r) {
        e1[r] = p[1][r] - p[0][r];
        e2[r] = p[2][r] - p[0][r];
    }
    const float c[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    return 0.5f * std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
}

TEST(EmissiveInstances, AreasMatchTheDocumentedArithmeticBitForBit) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> coord(-3.0f, 3.0f);
    MeshData mesh;
    for (int i = 0; i < 3 * 500; ++i) mesh.positions.push_back(coord(rng));
    for (int i = 0; i < 3 * 2000; ++i) mesh.indices.push_back(static_cast<uint32_t>(rng() % 500));
    float m[12];
    for (float& v : m) v = coord(rng);
    TriangleAreas work;
    work.world_vertices.assign(7, 1.0f);  // stale scratch from an earlier mesh
    const double total = compute_triangle_areas(mesh, m, work);
    ASSERT_EQ(work.areas.size(), 2000u);
    double expected_total = 0.0;
    for (size_t t = 0; t < 2000; ++t) {
        const float expected = reference_area(mesh, m, t);
        EXPECT_EQ(scene_test::bits(work.areas[t]), scene_test::bits(expected)) << "triangle " << t;
        expected_total += expected;
    }
    EXPECT_EQ(total, expected_total);
}

TEST(LightSelection, NegativeEmissionLuminanceCountsAsNoPower) {
    Scene scene;
    MeshData mesh;
    add_right_triangle(mesh, 1, 1);
    scene.meshes.push_back(mesh);
    add_instance(scene, 0, add_material(scene, 1, -10, 0));  // a light by its red, negative luminance
    add_instance(scene, 0, add_material(scene, 1, 1, 1));
    scene_test::prepare(scene);
    ASSERT_EQ(scene.light_pdf.size(), 2u);
    EXPECT_EQ(scene.light_pdf[0], 0.0f);
    EXPECT_EQ(scene.light_pdf[1], 1.0f);
    EXPECT_EQ(scene.light_cdf, (std::vector<uint32_t>{0, kLast}));
}

TEST(EmissiveInstances, TriangleCdfFollowsWorldAreas) {
    Scene scene;
    MeshData mesh;
    const float legs[6] = {1, 2, 0, 4, 0.5f, 3};  // the third is degenerate
    for (float leg : legs) add_right_triangle(mesh, leg, 1);
    scene.meshes.push_back(mesh);
    Instance inst;
    inst.material = add_material(scene, 1, 1, 1);
    inst.transform[0] = 2.0f;  // non-uniform scale: every area times 6
    inst.transform[5] = 3.0f;
    scene.instances.push_back(inst);
    scene_test::prepare(scene);
    ASSERT_EQ(scene.emissive_instances.size(), 1u);
    EXPECT_FLOAT_EQ(scene.emissive_instances[0].area, 6.0f * 10.5f / 2.0f);
    expect_cdf(scene.emissive_instances[0].tri_cdf, std::vector<double>(legs, legs + 6));
}

TEST(LightSelection, LightCdfFollowsPowerIncludingEnvironment) {
    Scene scene;
    MeshData mesh;
    add_right_triangle(mesh, 1, 1);
    scene.meshes.push_back(mesh);
    add_instance(scene, 0, add_material(scene, 1, 1, 1));           // area 0.5
    add_instance(scene, 0, add_material(scene, 2, 0, 0), 2.0f);     // area 2
    add_instance(scene, 0, add_material(scene, 0, 0, 0));           // dark
    add_instance(scene, 0, add_material(scene, 0, 0.5f, 3.0f));     // area 0.5
    TextureData env;
    env.width = 2;
    env.height = 1;
    env.channels = 3;
    env.is_float = true;
    env.pixelsf = {0.2f, 0.2f, 0.2f, 0.1f, 0.3f, 0.0f};
    scene.textures.push_back(env);
    scene.envmap_texture = 0;
    scene_test::prepare(scene);

    const double env_power = (0.2 + (0.2126 * 0.1 + 0.7152 * 0.3)) * 1.0;  // sin(pi / 2) = 1
    const std::vector<double> power = {0.5, 2.0 * 0.2126 * 2.0, 0.5 * (0.7152 * 0.5 + 0.0722 * 3.0), env_power};
    ASSERT_EQ(scene.light_cdf.size(), 4u);
    double total = 0.0;
    for (double p : power) total += p;
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(scene.light_pdf[i], power[i] / total, 1e-6) << "light " << i;
    EXPECT_EQ(scene.scene_params[22], 1.0f);
    EXPECT_EQ(scene.scene_params[23], 4.0f);
    EXPECT_EQ(scene.scene_params[24], scene.light_pdf[3]);
    expect_cdf(scene.light_cdf, power, 1e-6);
}

}  // namespace
