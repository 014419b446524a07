// The tables appended to binding 4: committed entries match a fresh
// integration, averages match their rows, and the buffer the renderer
// uploads puts every table at its fixed offset.
#include <gtest/gtest.h>

#include <vector>

#include "scene/ess_lut.h"
#include "tools/shading_table_integrator.h"

namespace {

constexpr int kDim = ESS_DIM;

uint16_t appended(size_t offset) { return shading_tables_precomputed[offset - kEssLutSize]; }

size_t volume_index(size_t base, int i, int j, int k) {
    return base + static_cast<size_t>(i + kDim * j + kDim * kDim * k);
}

// A spread of (mu, roughness, eta) nodes: normal, middle and grazing views,
// smooth to rough, weak to strong interfaces.
const int kNodes[][3] = {{0, 0, 1}, {31, 0, 31}, {5, 10, 8}, {16, 16, 16}, {2, 31, 4}, {28, 24, 20}, {0, 31, 31}};

TEST(ShadingTables, CommittedEntriesMatchAFreshIntegration) {
    for (const auto& n : kNodes) {
        const int i = n[0], j = n[1], k = n[2];
        EXPECT_NEAR(appended(volume_index(ESS_INSIDE_OFFSET, i, j, k)), ess_quantise(ess_inside_albedo(i, j, k)), 1)
            << i << " " << j << " " << k;
        EXPECT_NEAR(appended(volume_index(SPECULAR_ALBEDO_OFFSET, i, j, k)),
                    table_quantise(specular_layer_albedo(i, j, k)), 1)
            << i << " " << j << " " << k;
        EXPECT_NEAR(appended(volume_index(SHEEN_ALBEDO_OFFSET, i, j, 0)), table_quantise(sheen_table_albedo(i, j)), 1)
            << i << " " << j;
    }
}

TEST(ShadingTables, AveragesAreThoseOfTheirRows) {
    const std::vector<uint16_t> all =
        binding4_table(std::vector<uint16_t>(ess_lut_precomputed, ess_lut_precomputed + kEssLutSize));
    const int dim2 = kDim * kDim;
    for (int k : {0, 7, 31})
        for (int j : {0, 13, 31}) {
            const size_t row = static_cast<size_t>(kDim * j + dim2 * k), at = static_cast<size_t>(j + kDim * k);
            EXPECT_EQ(all[ESS_AVERAGE_OFFSET + at], table_average(&all[row]));
            EXPECT_EQ(all[ESS_AVERAGE_OFFSET + dim2 + at], table_average(&all[ESS_INSIDE_OFFSET + row]));
            EXPECT_EQ(all[SPECULAR_AVERAGE_OFFSET + at], table_average(&all[SPECULAR_ALBEDO_OFFSET + row]));
        }
    for (int j : {0, 13, 31})
        EXPECT_EQ(all[SHEEN_AVERAGE_OFFSET + j], table_average(&all[SHEEN_ALBEDO_OFFSET + kDim * j]));
}

// A smooth interface loses nothing from either side (total internal
// reflection included), and without an interface nothing reflects.
TEST(ShadingTables, LimitsArePhysical) {
    for (int k = 1; k < kDim; k += 5)
        for (int i = 0; i < kDim; i += 5) {
            EXPECT_GE(appended(volume_index(ESS_INSIDE_OFFSET, i, 0, k)), 0.99 * ESS_VALUE_SCALE) << i << " " << k;
        }
    for (int j = 0; j < kDim; j += 5)
        for (int i = 0; i < kDim; i += 5) EXPECT_EQ(appended(volume_index(SPECULAR_ALBEDO_OFFSET, i, j, 0)), 0u);
}

TEST(ShadingTables, UploadPutsTablesAtFixedOffsets) {
    EXPECT_TRUE(binding4_table({}).empty());
    const std::vector<uint16_t> full =
        binding4_table(std::vector<uint16_t>(ess_lut_precomputed, ess_lut_precomputed + kEssLutSize));
    ASSERT_EQ(full.size(), static_cast<size_t>(SHADING_TABLES_END));
    EXPECT_EQ(full[kEssLutSize - 1], ess_lut_precomputed[kEssLutSize - 1]);
    EXPECT_EQ(full[SHEEN_AVERAGE_OFFSET], appended(SHEEN_AVERAGE_OFFSET));
    // A host table of another length is cut or padded: the appended tables
    // never move.
    for (size_t n : {size_t{10}, kEssLutSize + 7}) {
        const std::vector<uint16_t> t = binding4_table(std::vector<uint16_t>(n, 1234));
        ASSERT_EQ(t.size(), static_cast<size_t>(SHADING_TABLES_END));
        EXPECT_EQ(t[9], 1234u);
        EXPECT_EQ(t[kEssLutSize - 1], n > kEssLutSize ? 1234u : 0u);
        EXPECT_EQ(t[ESS_INSIDE_OFFSET], appended(ESS_INSIDE_OFFSET));
    }
}

}  // namespace
