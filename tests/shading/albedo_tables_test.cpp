// The generated layer-albedo tables (shaders/albedo_tables.glsl) against
// the per-point quadratures they replace, on a grid of view angles,
// roughnesses and indices of refraction off the tables' own nodes.
#include <cmath>
#include <vector>

#include "api/ess_lut.h"
#include "gpu_test_support.h"

namespace {

// The old specular quadrature used 6 x 6 strata and the sheen one 12 x 12;
// the tables come from far finer grids, so they differ by the coarse
// quadratures' own error.
constexpr double kSpecularTolerance = 0.02;
constexpr double kSheenTolerance = 0.02;
constexpr double kAverageTolerance = 1e-5;

}  // namespace

class AlbedoTablesTest : public GpuTest {};

TEST_F(AlbedoTablesTest, AgreeWithThePerPointQuadratures) {
    std::vector<float> io;
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j < 9; ++j)
            for (float eta : {1.05f, 1.33f, 1.5f, 2.2f, 2.9f}) {
                const float mu = 0.07f + 0.11f * static_cast<float>(i);
                const float roughness = 0.03f + 0.12f * static_cast<float>(j);
                io.insert(io.end(), {mu, roughness, eta, 0, 0, 0, 0, 0});
            }
    const uint32_t count = static_cast<uint32_t>(io.size() / 8);
    std::vector<uint32_t> lut((kEssLutSize + 1) / 2);
    for (size_t k = 0; k < kEssLutSize; ++k)
        lut[k / 2] |= static_cast<uint32_t>(ess_lut_precomputed[k]) << (16 * (k % 2));
    GpuBuffer table(gpu(), lut.size() * sizeof(uint32_t));
    GpuBuffer buffer(gpu(), io.size() * sizeof(float));
    table.write(lut);
    buffer.write(io);
    gpu().dispatch(program("albedo_tables_test.comp", 2), {&table, &buffer}, groups_for(count), &count,
                   sizeof(count));
    const std::vector<float> out = buffer.read<float>();
    for (uint32_t t = 0; t < count; ++t) {
        const float* r = &out[8 * t];
        SCOPED_TRACE(::testing::Message() << "mu " << io[8 * t] << ", roughness " << io[8 * t + 1]
                                          << ", eta " << io[8 * t + 2]);
        EXPECT_NEAR(r[2], r[3], kSpecularTolerance);
        EXPECT_NEAR(r[4], r[5], kSheenTolerance);
        EXPECT_NEAR(r[6], r[7], kAverageTolerance);
    }
}
