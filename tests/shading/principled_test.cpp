// Material decoding and the principled BSDF on the GPU: the meaning of every
// packed word, coverage modes, sampling against pdf for layered materials,
// energy conservation of white materials and reciprocity of every mix.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "bsdf_sample.h"
#include "gpu_test_support.h"
#include "scene/scene.h"
#include "scene/scene_prep.h"
#include "statistics.h"

namespace {

enum Mode : uint32_t { kSample = 0, kQuadrature = 1, kDecode = 2, kCoverage = 3, kEval = 4, kReciprocity = 5 };
// The program variant of each mode (compiled separately, see the program).
constexpr const char* kVariants[] = {"RUN_SAMPLE", "RUN_QUADRATURE", "RUN_DECODE", "RUN_COVERAGE",
                                     "RUN_EVAL", "RUN_RECIPROCITY"};

struct PrincipledPush {
    uint32_t mode = 0;
    int32_t mid = 0;
    uint32_t count = 0;
    uint32_t seed = 5;
    float wo[4] = {0.0f, 0.0f, 1.0f, 0.0f};
    float albedo[4] = {1.0f, 1.0f, 1.0f, 0.5f};  // rgb, then roughness
    float metallic = 0.0f;
    uint32_t radiance = 0;
    uint32_t grid_theta = 16;
    uint32_t grid_phi = 32;
    uint32_t substeps = 16;
    uint32_t pad[3] = {0, 0, 0};
    float wi[4] = {0.0f, 0.0f, 1.0f, 0.0f};
};
static_assert(sizeof(PrincipledPush) == 96);

void set_wo(PrincipledPush& p, double c) {
    direction_at(c, 0.7, p.wo);
}

class PrincipledTest : public GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        lut_ = upload_shading_tables();
    }

    // Packs `materials` the way preparation does and runs the program.
    std::vector<float> run(const std::vector<Material>& materials, PrincipledPush p,
                           size_t outFloats) {
        Scene scene;
        scene.materials = materials;
        build_scene_buffer(scene, 8, 8, 1.0f);
        const auto mats = upload(scene.gpu_materials);
        GpuBuffer out(gpu(), outFloats * 4);
        gpu().dispatch(program("principled_test.comp", 3, {kVariants[p.mode]}), {lut_.get(), mats.get(), &out},
                       groups_for(p.count), &p, sizeof(p));
        return out.read<float>();
    }

    std::vector<Sample> samples(const Material& m, PrincipledPush p, uint32_t n) {
        p.mode = kSample;
        p.count = n;
        p.mid = 0;
        return to_samples(run({m}, p, 8 * static_cast<size_t>(n)), n);
    }

    void expect_sampling_matches_pdf(const Material& m, PrincipledPush p, double alpha,
                                     const std::string& what) {
        const std::vector<Sample> s = samples(m, p, 1u << 17);
        p.mode = kQuadrature;
        p.count = kGridTheta * kGridPhi;
        const SamplingFit f = fit_samples_to_pdf(s, run({m}, p, p.count), 1);
        EXPECT_GT(f.chi.p_value, alpha) << what << ": " << f.chi.describe();
        EXPECT_NEAR(f.integral, f.validFraction, 0.01) << what << ": pdf integral";
    }

    std::unique_ptr<GpuBuffer> lut_;
};

Material white_dielectric() {
    Material m;
    m.base_color[0] = m.base_color[1] = m.base_color[2] = 1.0f;
    m.ior = 1.5f;
    m.specular = 0.5f;
    m.roughness = 0.5f;
    return m;
}

TEST_F(PrincipledTest, DecodesEveryPackedWord) {
    Material a = white_dielectric();
    a.spec_trans = 0.8f;
    a.extra_c = 0.7f;
    const float extra[7] = {0.2f, 0.0f, 0.4f, 0.3f, 0.6f, 0.25f, 0.5f};
    std::memcpy(a.extra_params, extra, sizeof(extra));
    a.thin_walled = 1;
    a.transmission_extra = 2.0f;
    a.subsurface_ext[0] = 1.3f;
    a.subsurface_ext[1] = 0.4f;
    a.alpha_mode = 1;
    a.alpha_cutoff = 0.4f;
    a.f82_tint[2] = 0.5f;
    a.coat_color[0] = 0.3f;
    a.transmission_color[1] = 0.6f;
    a.albedo_tex = 3;
    a.emission_tex = 5;
    Material b = white_dielectric();
    b.ior = 0.0f;  // unset
    b.specular = 0.25f;
    b.extra_params[1] = 1.8f;
    b.alpha_mode = 7;  // unknown mode: opaque

    PrincipledPush p;
    p.mode = kDecode;
    p.count = 1;
    p.albedo[0] = 0.5f, p.albedo[1] = 0.25f, p.albedo[2] = 0.1f, p.albedo[3] = 0.35f;
    p.metallic = 0.2f;
    // Each row: word of the decoded block, expected value, tolerance.
    struct Word {
        int at;
        float value;
        float tolerance = 1e-6f;
    };
    static const char* const kNames[] = {
        "ior", "specular Fresnel scale", "coat weight", "coat roughness", "coat IOR", "sheen weight",
        "sheen roughness", "anisotropy", "rotation", "diffuse roughness", "eval_roughness", "eval_metallic",
        "eval_albedo green", "transmission", "absorption distance", "thin-walled", "subsurface IOR",
        "scattering anisotropy", "alpha mode", "f82 tint", "coat colour", "transmission colour",
        "gmat_specTrans", "gmat_albedo_tex", "gmat_emission_tex", "gmat_alpha_cutoff"};
    const auto expect_words = [&](const char* what, std::initializer_list<Word> words) {
        const std::vector<float> v = run({a, b}, p, 32);
        for (const Word& w : words) EXPECT_NEAR(v[w.at], w.value, w.tolerance) << what << ": " << kNames[w.at];
    };
    // Specular 0.5 is the physical Fresnel term; coat IOR 0 means 1.5.
    expect_words("material 0", {{0, 1.5f},  {1, 1.0f, 1e-5f}, {2, 0.7f},  {3, 0.2f},  {4, 1.5f},  {5, 0.4f},
                                {6, 0.3f},  {7, 0.6f},        {8, 0.25f}, {9, 0.5f},  {10, 0.35f}, {11, 0.2f},
                                {12, 0.25f}, {13, 0.8f},      {14, 2.0f}, {15, 1.0f}, {16, 1.3f}, {17, 0.4f},
                                {18, 1.0f}, {19, 0.5f},       {20, 0.3f}, {21, 0.6f}, {22, 0.8f}, {23, 3.0f},
                                {24, 5.0f}, {25, 0.4f}});
    // Unset IOR; specular 0.25 halves the Fresnel term; coat IOR as given;
    // NaN roughness reads as rough; metallic and colour clamped; an unknown
    // alpha mode is opaque.
    p.mid = 1;
    p.albedo[1] = 1.5f;
    p.albedo[3] = std::numeric_limits<float>::quiet_NaN();
    p.metallic = 2.0f;
    expect_words("material 1", {{0, 1.5f}, {1, 0.5f}, {4, 1.8f}, {10, 1.0f}, {11, 1.0f}, {12, 1.0f}, {18, 0.0f}});
    p.mid = 9;  // beyond the array: neutral material, no read outside it
    expect_words("material 9", {{0, 1.5f}, {1, 1.0f, 1e-5f}, {22, 0.0f}, {23, -1.0f}});
}

TEST_F(PrincipledTest, CoverageFollowsAlphaMode) {
    constexpr uint32_t kN = 1000;
    auto covered = [&](int mode, float alpha, float cutoff) {
        Material m = white_dielectric();
        m.alpha_mode = mode;
        m.alpha = alpha;
        m.alpha_cutoff = cutoff;
        PrincipledPush p;
        p.mode = kCoverage;
        p.count = kN;
        double sum = 0.0;
        for (float c : run({m}, p, kN)) sum += c;
        return sum / kN;
    };
    EXPECT_EQ(covered(0, 0.1f, 0.5f), 1.0);
    EXPECT_EQ(covered(1, 0.3f, 0.5f), 0.0);
    EXPECT_EQ(covered(1, 0.5f, 0.5f), 1.0);
    EXPECT_NEAR(covered(2, 0.25f, 0.5f), 0.25, 1e-3);
}

// A quarter turn of the anisotropy rotation turns the lobe with the
// directions: eval and pdf at rotation 0.25 equal those at rotation 0 for
// both directions turned by 90 degrees about the normal.
TEST_F(PrincipledTest, AnisotropyRotationTurnsTheLobe) {
    Material brushed = white_dielectric();
    brushed.extra_params[4] = 0.9f;
    PrincipledPush p;
    p.mode = kEval;
    p.count = 1;
    p.metallic = 1.0f;
    p.albedo[3] = 0.3f;
    const float wo[3] = {0.5f, 0.1f, 0.86f}, wi[3] = {-0.45f, 0.3f, 0.84f};
    auto eval = [&](float rotation, const float (&o)[3], const float (&i)[3]) {
        Material m = brushed;
        m.extra_params[5] = rotation;
        std::memcpy(p.wo, o, sizeof(o));
        std::memcpy(p.wi, i, sizeof(i));
        return run({m}, p, 4);
    };
    const std::vector<float> base = eval(0.0f, wo, wi);
    const std::vector<float> turned = eval(0.25f, {-wo[1], wo[0], wo[2]}, {-wi[1], wi[0], wi[2]});
    const std::vector<float> unturned = eval(0.25f, wo, wi);
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(turned[c], base[c], 1e-4f * base[c]) << c;
    // The lobe is anisotropic enough that not turning the directions differs.
    EXPECT_GT(std::fabs(unturned[1] - base[1]), 0.1f * base[1]);
}

TEST_F(PrincipledTest, LayeredSamplingMatchesPdf) {
    struct Case {
        std::string name;
        Material m;
        float roughness;
        float metallic;
        double cos_o;
    };
    std::vector<Case> cases;
    Material plastic = white_dielectric();
    plastic.extra_c = 0.6f;
    plastic.extra_params[0] = 0.35f;
    plastic.extra_params[2] = 0.5f;
    plastic.extra_params[3] = 0.4f;
    cases.push_back({"coated plastic with sheen", plastic, 0.4f, 0.0f, 0.7});
    cases.push_back({"coated plastic, grazing", plastic, 0.4f, 0.0f, 0.2});
    Material brushed = white_dielectric();
    brushed.extra_params[4] = 0.7f;
    brushed.extra_params[5] = 0.125f;
    brushed.f82_tint[0] = 0.6f;
    cases.push_back({"brushed metal", brushed, 0.5f, 1.0f, 0.6});
    Material glass = white_dielectric();
    glass.spec_trans = 1.0f;
    cases.push_back({"rough glass", glass, 0.4f, 0.0f, 0.8});
    cases.push_back({"rough glass from inside", glass, 0.4f, 0.0f, -0.5});
    Material thin = glass;
    thin.thin_walled = 1;
    cases.push_back({"thin glass from the back", thin, 0.5f, 0.0f, -0.6});
    Material mixed = plastic;
    mixed.spec_trans = 0.5f;
    mixed.extra_params[6] = 0.8f;
    cases.push_back({"half metal, half glass, rough diffuse", mixed, 0.6f, 0.5f, 0.5});
    const double alpha = sidak_alpha(0.01, static_cast<int>(cases.size()));
    for (const Case& c : cases) {
        PrincipledPush p;
        p.albedo[0] = 0.9f, p.albedo[1] = 0.6f, p.albedo[2] = 0.4f;
        p.albedo[3] = c.roughness;
        p.metallic = c.metallic;
        p.radiance = 1;
        set_wo(p, c.cos_o);
        expect_sampling_matches_pdf(c.m, p, alpha, c.name);
    }
}

// Glass of IOR exactly 1 is index-matched to its surroundings: every sample
// passes straight through, tinted by the transmission colour and nothing
// else, from either side and thin-walled or not; half transmission keeps
// every sample finite.
TEST_F(PrincipledTest, IndexMatchedGlassPassesLightStraightThrough) {
    Material glass = white_dielectric();
    glass.ior = 1.0f;
    glass.spec_trans = 1.0f;
    glass.transmission_color[0] = 0.8f, glass.transmission_color[1] = 0.5f;
    Material thin = glass;
    thin.thin_walled = 1;
    for (const Material& m : {glass, thin})
        for (double c : {0.8, 0.01, -0.5})
            for (float rough : {0.001f, 0.6f}) {
                PrincipledPush p;
                p.albedo[3] = rough;
                set_wo(p, c);
                for (const Sample& x : samples(m, p, 512)) {
                    ASSERT_TRUE(valid(x)) << "cos " << c;
                    for (int k = 0; k < 3; ++k) {
                        ASSERT_NEAR(x.wi[k], -p.wo[k], 1e-6f) << "cos " << c;
                        ASSERT_NEAR(x.weight[k], m.transmission_color[k], 1e-6f) << "cos " << c;
                    }
                }
            }
    Material half = glass;
    half.spec_trans = 0.5f;
    PrincipledPush p;
    set_wo(p, 0.6);
    int through = 0;
    for (const Sample& x : samples(half, p, 4096)) {
        for (float v : {x.wi[0], x.wi[1], x.wi[2], x.pdf, x.weight[0], x.weight[1], x.weight[2]})
            ASSERT_TRUE(std::isfinite(v));
        if (x.wi[2] < 0.0f) ++through;
    }
    EXPECT_GT(through, 0);
}

TEST_F(PrincipledTest, WhiteMaterialsConserveEnergy) {
    struct Case {
        std::string name;
        Material m;
        float metallic;
        double low, high;
    };
    Material coated = white_dielectric();
    coated.extra_c = 1.0f;
    coated.extra_params[0] = 0.2f;
    Material glass = white_dielectric();
    glass.spec_trans = 1.0f;
    Material sheen = white_dielectric();
    sheen.extra_params[2] = 1.0f;
    sheen.extra_params[3] = 0.5f;
    const std::vector<Case> cases = {
        {"white metal", white_dielectric(), 1.0f, 0.98, 1.02},
        {"white glass", glass, 0.0f, 0.98, 1.02},
        {"white plastic", white_dielectric(), 0.0f, 0.9, 1.02},
        {"coat over white metal", coated, 1.0f, 0.95, 1.02},
        {"sheen over white plastic", sheen, 0.0f, 0.85, 1.02},
    };
    for (const Case& c : cases) {
        for (float rough : {0.1f, 0.5f, 1.0f}) {
            for (double mu : {0.9, 0.4, 0.1}) {
                PrincipledPush p;
                p.albedo[3] = rough;
                p.metallic = c.metallic;
                set_wo(p, mu);
                const double a = mean_weight(samples(c.m, p, 1u << 15));
                EXPECT_GE(a, c.low) << c.name << " roughness " << rough << " cos " << mu;
                EXPECT_LE(a, c.high) << c.name << " roughness " << rough << " cos " << mu;
            }
        }
    }
}

// Every lobe mix is reciprocal: the adjoint light paths use,
// bsdf_eval_adjoint(a, b), equals the camera paths' f(b, a), for random
// pairs of directions over each material's whole domain (both sides for
// transmitting and thin materials). Layer weights depend on both directions
// alike, so this holds with coat, sheen and specular layers over any base.
TEST_F(PrincipledTest, EveryLobeMixIsReciprocal) {
    struct Case {
        std::string name;
        Material m;
        float roughness;
        float metallic;
        bool sphere;  // pairs on both sides of the surface
    };
    Material plastic = white_dielectric();
    plastic.base_color[0] = 0.8f, plastic.base_color[2] = 0.3f;
    Material coated = plastic;
    coated.extra_c = 0.7f;
    coated.extra_params[0] = 0.3f;
    coated.coat_color[1] = 0.6f;
    Material sheen = plastic;
    sheen.extra_params[2] = 0.8f;
    sheen.extra_params[3] = 0.4f;
    Material everything = coated;
    everything.extra_params[2] = 0.5f;
    everything.extra_params[3] = 0.6f;
    everything.extra_params[6] = 0.7f;
    everything.spec_trans = 0.4f;
    Material glass = white_dielectric();
    glass.spec_trans = 1.0f;
    glass.transmission_color[1] = 0.7f;
    Material coated_glass = glass;
    coated_glass.extra_c = 1.0f;
    coated_glass.extra_params[2] = 0.5f;
    Material thin = glass;
    thin.thin_walled = 1;
    const std::vector<Case> cases = {
        {"diffuse", plastic, 0.6f, 0.0f, false},
        {"rough diffuse", everything, 0.6f, 0.3f, false},
        {"metal", plastic, 0.35f, 1.0f, false},
        {"coated plastic", coated, 0.5f, 0.0f, false},
        {"sheen over plastic", sheen, 0.2f, 0.0f, false},
        {"half metal, coat, sheen, glass", everything, 0.45f, 0.5f, true},
        {"rough glass", glass, 0.6f, 0.0f, true},
        {"smooth glass", glass, 0.05f, 0.0f, true},
        {"coated glass with sheen", coated_glass, 0.4f, 0.0f, true},
        {"thin glass", thin, 0.5f, 0.0f, true},
    };
    constexpr uint32_t kPairs = 4096;
    constexpr double kFloor = 1e-3;
    for (const Case& c : cases) {
        PrincipledPush p;
        p.mode = kReciprocity;
        p.count = kPairs;
        p.albedo[3] = c.roughness;
        p.metallic = c.metallic;
        p.grid_theta = c.sphere ? 0 : 1;
        const std::vector<float> v = run({c.m}, p, 4 * kPairs);
        int compared = 0;
        for (uint32_t i = 0; i < kPairs; ++i) {
            const double a = v[4 * i + 2], b = v[4 * i + 3];
            if (std::max(a, b) < kFloor) continue;  // rounding dominates far in the tails
            ++compared;
            ASSERT_NEAR(a / b, 1.0, 2e-3) << c.name << " pair " << i << " a.z " << v[4 * i] << " b.z "
                                          << v[4 * i + 1];
        }
        EXPECT_GT(compared, 50) << c.name;  // near-mirror glass joins few pairs
    }
}

}  // namespace
