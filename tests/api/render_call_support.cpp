#include "render_call_support.h"

#include "gpu/vk_renderer.h"

namespace {
const float kEye[3] = {0, 0, 3}, kTarget[3] = {0, 0, 0}, kUp[3] = {0, 1, 0};
}

void setup_render_context(VitrelContext* ctx, int size) {
    ctx->validation = true;
    vitrel_set_output_size(ctx, size, size);
    vitrel_set_quality(ctx, 1);
    vitrel_set_camera(ctx, kEye, kTarget, kUp, 45.0f, 0.0f, 3.0f);
}

int update_camera(VitrelContext* ctx, int w, int h) {
    return vitrel_update_camera(ctx, kEye, kTarget, kUp, w, h, 45.0f, 0.0f, 3.0f);
}

int add_emissive_square(VitrelContext* ctx, float cx, float cy, float edge, float emission) {
    const float black[3] = {0, 0, 0};
    const float glow[3] = {emission, emission, emission};
    const int material = vitrel_add_material(ctx, black, glow, -1, -1, -1, -1, 1.0f, 0.0f, 0.0f,
                                             1.5f, 0.0f, 0.0f, 0, 0, 0, 0, 0, 0, 0);
    const float h = edge / 2;
    const float pos[12] = {-h, -h, 0, h, -h, 0, h, h, 0, -h, h, 0};
    const unsigned idx[6] = {0, 1, 2, 0, 2, 3};
    const int mesh =
        vitrel_add_mesh(ctx, pos, 4, idx, 2, nullptr, nullptr, nullptr, nullptr, material);
    const auto m = translation_matrix(cx, cy, 0);
    return vitrel_add_instance(ctx, mesh, material, m.data());
}

void set_uniform_environment(VitrelContext* ctx, float value) {
    const float rgb[3] = {value, value, value};
    ASSERT_EQ(vitrel_set_envmap(ctx, rgb, 1, 1, nullptr, 1.0f), 0);
}

std::vector<float> linear_image(VitrelContext* ctx) {
    int w = 0, h = 0;
    const float* p = vitrel_get_pixels_linear(ctx, &w, &h);
    if (!p) return {};
    return std::vector<float>(p, p + static_cast<size_t>(4) * w * h);
}

double red_sum(const std::vector<float>& rgba) {
    double sum = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) sum += rgba[i];
    return sum;
}

void expect_no_validation_messages(VitrelContext* ctx) {
    for (VkRenderer* r : ctx->renderers) {
        if (!r) continue;
        EXPECT_EQ(r->validationMessageCount.load(), 0u);
    }
}
