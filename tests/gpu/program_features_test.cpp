// The features a scene's path programs are built with must cover every
// material feature the shaders can reach, and nothing more for plain scenes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "gpu/program_features.h"

namespace {

TEST(ProgramFeatures, EachMaterialFeatureTurnsOnItsBitOnly) {
    struct Row {
        const char* what;
        std::function<void(Material&)> set;
        uint32_t bit;
    };
    const Row rows[] = {
        {"plain", [](Material&) {}, 0u},
        {"coat", [](Material& m) { m.extra_c = 0.25f; }, PROGRAM_FEATURE_COAT},
        {"sheen", [](Material& m) { m.extra_params[2] = 1.0f; }, PROGRAM_FEATURE_SHEEN},
        {"metallic", [](Material& m) { m.metallic = 1.0f; }, PROGRAM_FEATURE_METAL},
        {"metallic texture", [](Material& m) { m.metallic_tex = 0; }, PROGRAM_FEATURE_METAL},
        {"transmission", [](Material& m) { m.spec_trans = 1.0f; }, PROGRAM_FEATURE_TRANSMISSION},
        {"NaN transmission", [](Material& m) { m.spec_trans = std::nanf(""); }, PROGRAM_FEATURE_TRANSMISSION},
        {"negative subsurface", [](Material& m) { m.subsurface = -1.0f; }, PROGRAM_FEATURE_SUBSURFACE},
        {"alpha blend", [](Material& m) { m.alpha_mode = 2; }, PROGRAM_FEATURE_ALPHA},
        {"hostile alpha mode", [](Material& m) { m.alpha_mode = -7; }, PROGRAM_FEATURE_ALPHA},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Scene scene;
        scene.materials.resize(3);
        row.set(scene.materials[1]);
        EXPECT_EQ(program_features(scene, nullptr), row.bit);
    }
}

TEST(ProgramFeatures, FeaturesOfAllMaterialsAddUpAndGraphsCanMakeMetal) {
    Scene scene;
    scene.materials.resize(2);
    scene.materials[0].extra_c = 1.0f;
    scene.materials[1].subsurface = 0.5f;
    EXPECT_EQ(program_features(scene, nullptr), PROGRAM_FEATURE_COAT | PROGRAM_FEATURE_SUBSURFACE);
    std::vector<MaterialExprData> exprs(2);
    EXPECT_EQ(program_features(scene, &exprs), PROGRAM_FEATURE_COAT | PROGRAM_FEATURE_SUBSURFACE);
    exprs[1].metallic.root = 0;
    EXPECT_EQ(program_features(scene, &exprs) & PROGRAM_FEATURE_METAL, PROGRAM_FEATURE_METAL);
}

}  // namespace
