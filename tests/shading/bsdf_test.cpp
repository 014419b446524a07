// The BSDF lobes on the GPU: sampling against pdf (chi-square), pdf
// normalisation, white furnaces with and without energy compensation,
// reciprocity, and the layer albedo tables.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bsdf_sample.h"
#include "gpu_test_support.h"
#include "statistics.h"

namespace {

enum Mode : uint32_t { kSample = 0, kQuadrature = 1, kReciprocity = 2, kLayerAlbedo = 3 };
// The program variant of each mode (compiled separately, see the program).
constexpr const char* kVariants[] = {"RUN_SAMPLE", "RUN_QUADRATURE", "RUN_RECIPROCITY", "RUN_LAYER_ALBEDO"};
enum Lobe : uint32_t { kLambert = 0, kRoughDiffuse = 1, kConductor = 2, kDielectric = 3 };
enum Flags : uint32_t { kCompensate = 1, kThin = 2, kRadiance = 4 };

struct BsdfPush {
    uint32_t mode = 0;
    uint32_t lobe = 0;
    uint32_t count = 0;
    uint32_t seed = 1;
    float roughness = 0.5f;
    float anisotropy = 0.0f;
    float eta = 1.5f;
    float spec_scale = 1.0f;
    float wo[4] = {0.0f, 0.0f, 1.0f, 0.0f};
    float f0[4] = {1.0f, 1.0f, 1.0f, 0.0f};
    float tint[4] = {1.0f, 1.0f, 1.0f, 0.0f};
    uint32_t flags = kCompensate;
    uint32_t grid_theta = 0;
    uint32_t grid_phi = 0;
    uint32_t substeps = 0;
};
static_assert(sizeof(BsdfPush) == 96);

constexpr uint32_t kSubsteps = 24;
constexpr double kReciprocityFloor = 1e-3;

// Viewing direction at polar angle with cosine `c`, azimuth 0.3 rad.
void set_wo(BsdfPush& p, double c) {
    direction_at(c, 0.3, p.wo);
}

std::string describe(const BsdfPush& p) {
    char text[200];
    std::snprintf(text, sizeof(text),
                  "lobe %u roughness %.2f aniso %.2f eta %.2f wo.z %.2f flags %u", p.lobe,
                  p.roughness, p.anisotropy, p.eta, p.wo[2], p.flags);
    return text;
}

class BsdfTest : public GpuTest {
protected:
    void SetUp() override {
        GpuTest::SetUp();
        lut_ = upload_shading_tables();
    }

    std::vector<float> run(const BsdfPush& push, size_t outFloats) {
        GpuBuffer out(gpu(), outFloats * 4);
        gpu().dispatch(program("bsdf_test.comp", 2, {kVariants[push.mode]}), {lut_.get(), &out},
                       groups_for(push.count), &push, sizeof(push));
        return out.read<float>();
    }

    std::vector<Sample> samples(BsdfPush p, uint32_t n) {
        p.mode = kSample;
        p.count = n;
        return to_samples(run(p, 8 * static_cast<size_t>(n)), n);
    }

    // Per grid bin: integral of pdf, then of eval (r, g, b).
    std::vector<float> quadrature(BsdfPush p) {
        p.mode = kQuadrature;
        p.grid_theta = kGridTheta;
        p.grid_phi = kGridPhi;
        p.substeps = kSubsteps;
        p.count = kGridTheta * kGridPhi;
        return run(p, 4 * static_cast<size_t>(p.count));
    }

    // Samples of `sampled` fitted to the pdf of `densityOf`.
    SamplingFit fit(const BsdfPush& sampled, const BsdfPush& densityOf) {
        return fit_samples_to_pdf(samples(sampled, 1u << 17), quadrature(densityOf), 4);
    }

    // Chi-square of the lobe's sampled directions against its pdf, and the
    // pdf's integral against the fraction of valid samples.
    void expect_sampling_matches_pdf(const BsdfPush& p, double alpha) {
        const SamplingFit f = fit(p, p);
        EXPECT_GT(f.chi.p_value, alpha) << describe(p) << ": " << f.chi.describe();
        EXPECT_NEAR(f.integral, f.validFraction, 0.01) << describe(p) << ": pdf integral";
    }

    double albedo(const BsdfPush& p) { return mean_weight(samples(p, 1u << 15)); }

    std::unique_ptr<GpuBuffer> lut_;
};

BsdfPush lobe_case(uint32_t lobe, float roughness, double cosine, uint32_t flags) {
    BsdfPush p;
    p.lobe = lobe;
    p.roughness = roughness;
    p.flags = flags;
    set_wo(p, cosine);
    return p;
}

// Every lobe's sampled directions against its pdf, over roughness,
// anisotropy, IOR, viewing angle (grazing and from inside included) and
// flags, as one family of tests at overall level 0.01.
TEST_F(BsdfTest, SamplingMatchesPdf) {
    std::vector<BsdfPush> cases;
    for (float rough : {0.3f, 1.0f})
        for (float aniso : {0.0f, 0.8f})
            for (double c : {0.9, 0.35})
                for (uint32_t flags : {0u, uint32_t{kCompensate}}) {
                    BsdfPush p = lobe_case(kConductor, rough, c, flags);
                    p.anisotropy = aniso;
                    p.f0[0] = 0.9f, p.f0[1] = 0.6f, p.f0[2] = 0.3f;
                    p.tint[0] = 0.8f, p.tint[1] = 1.0f, p.tint[2] = 0.5f;
                    cases.push_back(p);
                }
    for (float rough : {0.3f, 0.7f})
        for (float eta : {1.33f, 2.0f})
            for (double c : {0.8, 0.3, -0.6})  // the last one from inside
                for (uint32_t flags : {uint32_t{kCompensate | kRadiance}, uint32_t{kThin},
                                       uint32_t{kCompensate | kThin}}) {
                    cases.push_back(lobe_case(kDielectric, rough, c, flags));
                    cases.back().eta = eta;
                }
    BsdfPush aniso = lobe_case(kDielectric, 0.5f, 0.5, kCompensate);
    aniso.anisotropy = 0.7f;
    aniso.spec_scale = 0.6f;
    cases.push_back(aniso);
    cases.push_back(lobe_case(kLambert, 0.5f, 0.6, kCompensate));
    cases.push_back(lobe_case(kRoughDiffuse, 0.8f, 0.6, kCompensate));
    for (uint32_t lobe : {uint32_t{kConductor}, uint32_t{kDielectric}})  // grazing
        cases.push_back(lobe_case(lobe, 0.5f, 0.01, kCompensate));
    const double alpha = sidak_alpha(0.01, static_cast<int>(cases.size()));
    for (const BsdfPush& p : cases) expect_sampling_matches_pdf(p, alpha);
}

// Negative control of the whole harness (sampling, binning, quadrature,
// statistic): a pdf off by a small change of roughness or anisotropy must
// be rejected, or the tests above could not catch such a fault.
TEST_F(BsdfTest, SamplingAgainstASlightlyWrongPdfFails) {
    BsdfPush right;
    right.lobe = kConductor;
    right.roughness = 0.3f;
    set_wo(right, 0.7);
    BsdfPush rougher = right, anisotropic = right;
    rougher.roughness = 0.33f;
    anisotropic.anisotropy = 0.1f;
    for (const BsdfPush& wrong : {rougher, anisotropic}) {
        const ChiSquareResult r = fit(right, wrong).chi;
        EXPECT_LT(r.p_value, 1e-6) << describe(wrong) << ": " << r.describe();
    }
}

bool finite_sample(const Sample& x) {
    for (float v : {x.wi[0], x.wi[1], x.wi[2], x.pdf, x.weight[0], x.weight[1], x.weight[2]})
        if (!std::isfinite(v)) return false;
    return true;
}

// Near-mirror roughness, grazing and index-matched configurations: no sample
// may carry a NaN or an infinity, whatever it means physically.
TEST_F(BsdfTest, ExtremeConfigurationsGiveFiniteSamplesAndDensities) {
    std::vector<BsdfPush> cases;
    for (uint32_t lobe : {uint32_t{kConductor}, uint32_t{kDielectric}})
        for (float rough : {0.001f, 1.0f})
            for (double c : {1.0, 0.01, -0.01})
                for (float eta : {1.0f, 1.5f})
                    for (uint32_t flags : {uint32_t{kCompensate | kRadiance}, uint32_t{kThin}}) {
                        if (lobe == kConductor && (c < 0.0 || eta != 1.5f || flags == kThin))
                            continue;
                        cases.push_back(lobe_case(lobe, rough, c, flags));
                        cases.back().eta = eta;
                    }
    for (const BsdfPush& p : cases) {
        int valid_count = 0;
        for (const Sample& x : samples(p, 4096)) {
            ASSERT_TRUE(finite_sample(x)) << describe(p);
            if (valid(x)) {
                ++valid_count;
                ASSERT_GT(x.pdf, 0.0f) << describe(p);
            }
        }
        EXPECT_GT(valid_count, 2048) << describe(p);
        for (float v : quadrature(p)) ASSERT_TRUE(std::isfinite(v)) << describe(p);
    }
}

// IOR exactly 1: the interface is invisible, so every sample passes straight
// through with the transmission tint, for any roughness, side or viewing
// angle, and no direction can be evaluated (the lobe is a delta).
TEST_F(BsdfTest, IndexMatchedInterfacePassesLightStraightThrough) {
    for (float rough : {0.001f, 0.5f, 1.0f})
        for (double c : {0.9, 0.01, -0.6})
            for (uint32_t flags : {uint32_t{kCompensate | kRadiance}, uint32_t{kThin}}) {
                BsdfPush p = lobe_case(kDielectric, rough, c, flags);
                p.eta = 1.0f;
                p.tint[0] = 0.9f, p.tint[1] = 0.5f, p.tint[2] = 0.25f;
                const float wo[3] = {p.wo[0], p.wo[1], p.wo[2]};
                for (const Sample& x : samples(p, 1024)) {
                    ASSERT_EQ(static_cast<uint32_t>(x.flags), 3u) << describe(p);  // valid, transmitted
                    for (int k = 0; k < 3; ++k) {
                        ASSERT_NEAR(x.wi[k], -wo[k], 1e-6f) << describe(p);
                        ASSERT_EQ(x.weight[k], p.tint[k]) << describe(p);
                    }
                }
                for (float v : quadrature(p)) ASSERT_EQ(v, 0.0f) << describe(p);
            }
}

// Roughness 0.001 is a mirror to within the smallest GGX alpha: most
// reflected samples leave within milliradians of the mirror direction (GGX
// keeps long tails: tan theta_m exceeds 3 alpha one time in ten).
TEST_F(BsdfTest, NearMirrorReflectsAboutTheNormal) {
    for (uint32_t lobe : {uint32_t{kConductor}, uint32_t{kDielectric}})
        for (double c : {0.9, 0.3, 0.01}) {
            const BsdfPush p = lobe_case(lobe, 0.001f, c, kCompensate);
            int reflected = 0, close = 0;
            for (const Sample& x : samples(p, 4096)) {
                if (!valid(x) || x.wi[2] <= 0.0f) continue;
                ++reflected;
                const double cosine = -x.wi[0] * p.wo[0] - x.wi[1] * p.wo[1] + x.wi[2] * p.wo[2];
                if (cosine > std::cos(0.02)) ++close;
            }
            EXPECT_GT(reflected, 0) << describe(p);
            EXPECT_GT(close, 0.85 * reflected) << describe(p);
        }
}

// White furnaces: with compensation a white metal and a lossless dielectric
// (interface or thin sheet, energy transport) return all the energy at
// every roughness, near-mirror included; a metal's single scattering never
// returns more and loses energy when rough.
TEST_F(BsdfTest, WhiteFurnacesKeepAllEnergyOnlyWithCompensation) {
    std::vector<BsdfPush> cases;
    for (int step = 0; step <= 10; ++step)
        for (double c : {0.95, 0.5, 0.15})
            cases.push_back(lobe_case(kConductor, step / 10.0f, c, kCompensate));
    for (double c : {0.9, 0.3, 0.01}) cases.push_back(lobe_case(kConductor, 0.001f, c, kCompensate));
    for (float eta : {1.33f, 1.5f, 2.2f})
        for (int step = 0; step <= 10; step += 2)
            for (double c : {0.9, 0.4})
                for (uint32_t flags : {uint32_t{kCompensate}, uint32_t{kCompensate | kThin}}) {
                    cases.push_back(lobe_case(kDielectric, step / 10.0f, c, flags));
                    cases.back().eta = eta;
                }
    for (BsdfPush p : cases) {
        const double compensated = albedo(p);
        EXPECT_NEAR(compensated, 1.0, 0.02) << describe(p);
        if (p.lobe != kConductor) continue;
        p.flags = 0;
        const double single = albedo(p);
        EXPECT_LE(single, compensated + 0.005) << describe(p);
        if (p.roughness == 1.0f) {
            EXPECT_LT(single, 0.9) << describe(p) << ": single scattering loses energy";
        }
    }
}

TEST_F(BsdfTest, WhiteLambertFurnaceIsExactlyOne) {
    BsdfPush p;
    p.lobe = kLambert;
    for (double c : {1.0, 0.5, 0.05}) {
        set_wo(p, c);
        for (const Sample& s : samples(p, 4096)) {
            ASSERT_TRUE(valid(s));
            ASSERT_EQ(s.weight[1], 1.0f);
            ASSERT_GT(s.wi[2], 0.0f);
        }
        // Quadrature of eval over the sphere: the cosine is linear in each
        // bin's cos theta, so the midpoint rule is exact up to rounding.
        const std::vector<float> q = quadrature(p);
        double total = 0.0;
        for (size_t b = 0; b < q.size() / 4; ++b) total += q[4 * b + 2];
        EXPECT_NEAR(total, 1.0, 1e-4);
    }
}

// Every lobe, energy compensation included, is reciprocal: the adjoint
// (importance) value f*(a, b) equals the radiance value f(b, a) for random
// pairs of directions, reflection and refraction alike. For the
// non-transmitting lobes that is plain f(a, b) = f(b, a).
TEST_F(BsdfTest, EveryLobeIsReciprocal) {
    constexpr uint32_t kPairs = 4096;
    std::vector<BsdfPush> cases;
    BsdfPush p;
    p.mode = kReciprocity;
    p.count = kPairs;
    p.lobe = kRoughDiffuse;
    p.roughness = 0.7f;
    cases.push_back(p);
    p.lobe = kConductor;
    p.roughness = 0.4f;
    p.anisotropy = 0.5f;
    p.f0[0] = 0.95f;
    p.tint[2] = 0.6f;
    for (uint32_t flags : {0u, uint32_t{kCompensate}}) {
        p.flags = flags;
        cases.push_back(p);
    }
    p = BsdfPush{};
    p.mode = kReciprocity;
    p.count = kPairs;
    p.lobe = kDielectric;
    p.tint[0] = 0.7f;
    for (float rough : {0.08f, 0.5f, 0.9f})
        for (float eta : {1.6f, 0.75f})
            for (uint32_t flags : {0u, uint32_t{kCompensate}, uint32_t{kCompensate | kThin}}) {
                p.roughness = rough;
                p.eta = eta;
                p.flags = flags;
                p.anisotropy = rough == 0.5f ? 0.6f : 0.0f;
                cases.push_back(p);
            }
    for (const BsdfPush& c : cases) {
        const std::vector<float> v = run(c, 8 * kPairs);
        int compared = 0;
        for (uint32_t i = 0; i < kPairs; ++i) {
            const double a = v[8 * i + 6], b = v[8 * i + 7];
            // Pairs joined only by microfacets far in the distribution's
            // tail carry values whose single-precision rounding dominates.
            if (std::max(a, b) < kReciprocityFloor) continue;
            ++compared;
            ASSERT_NEAR(a / b, 1.0, 2e-3) << describe(c) << " pair " << i << " a.z " << v[8 * i + 2]
                                          << " b.z " << v[8 * i + 5];
        }
        EXPECT_GT(compared, 100) << describe(c);
    }
}

// The layer albedo tables agree with fine quadratures of the lobes (32 x 32
// visible normals, 64 x 64 directions), over random views, roughnesses,
// indices and sheen roughnesses: within 0.01 from mu = 0.1 on. Closer to
// the horizon the tables' 32 linear mu cells cannot follow the steep rise
// of a near-mirror's Fresnel term or of the sheen; there 0.06 holds.
TEST_F(BsdfTest, LayerAlbedoTablesMatchTheirQuadratures) {
    constexpr uint32_t kCases = 4096;
    constexpr double kTolerance = 0.01, kGrazingTolerance = 0.06, kGrazingMu = 0.1;
    BsdfPush p;
    p.mode = kLayerAlbedo;
    p.count = kCases;
    const std::vector<float> v = run(p, 8 * kCases);
    double worst_specular = 0.0, worst_sheen = 0.0;
    for (uint32_t i = 0; i < kCases; ++i) {
        const float* c = &v[8 * i];
        const double tolerance = c[0] < kGrazingMu ? kGrazingTolerance : kTolerance;
        if (c[0] >= kGrazingMu) {
            worst_specular = std::max(worst_specular, std::fabs(static_cast<double>(c[4]) - c[5]));
            worst_sheen = std::max(worst_sheen, std::fabs(static_cast<double>(c[6]) - c[7]));
        }
        EXPECT_NEAR(c[4], c[5], tolerance) << "specular: mu " << c[0] << " alpha " << c[1] << " eta " << c[2];
        EXPECT_NEAR(c[6], c[7], tolerance) << "sheen: mu " << c[0] << " roughness " << c[3];
    }
    std::printf("worst differences from mu = 0.1 on: specular %.4f, sheen %.4f\n", worst_specular, worst_sheen);
}

}  // namespace
