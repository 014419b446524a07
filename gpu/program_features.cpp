#include "gpu/program_features.h"

#include "shaders/gpu_layout.h"

namespace {

bool used(float v) { return !(v == 0.0f); }

}  // namespace

uint32_t program_features(const Scene& scene, const std::vector<MaterialExprData>* materialExprs) {
    uint32_t f = 0;
    for (const Material& m : scene.materials) {
        if (used(m.extra_c)) f |= PROGRAM_FEATURE_COAT;
        if (used(m.extra_params[2])) f |= PROGRAM_FEATURE_SHEEN;
        if (used(m.metallic) || m.metallic_tex >= 0) f |= PROGRAM_FEATURE_METAL;
        if (used(m.spec_trans)) f |= PROGRAM_FEATURE_TRANSMISSION;
        if (used(m.subsurface)) f |= PROGRAM_FEATURE_SUBSURFACE;
        if (m.alpha_mode != 0) f |= PROGRAM_FEATURE_ALPHA;
    }
    if (materialExprs) {
        for (const MaterialExprData& e : *materialExprs)
            if (e.metallic.root >= 0 || !e.metallic.nodes.empty()) f |= PROGRAM_FEATURE_METAL;
    }
    return f;
}
