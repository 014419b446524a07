// No exception crosses the call interface: allocations that fail inside a
// call (huge caller-given sizes, or memory running out at any point) turn
// into the call's failure result and leave the context as it was.
//
// Allocations fail on demand through the replaced heap of failing_heap.h.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "failing_heap.h"
#include "test_helpers.h"

namespace {

constexpr size_t kSmallHeap = size_t{64} << 20;

struct Counts {
    size_t textures, materials, exprs, meshes, instances, keyframes, pool, motion;
    int motion_steps;
    std::string shader_dir;
    float grade0;
    bool operator==(const Counts&) const = default;
};

Counts counts(const VitrelContext* ctx) {
    const Scene& s = ctx->scene;
    return {s.textures.size(),
            s.materials.size(),
            ctx->material_exprs.size(),
            s.meshes.size(),
            s.instances.size(),
            s.camera_keyframes.size(),
            ctx->material_exprs.empty() ? 0 : ctx->material_exprs[0].albedo.nodes.size(),
            ctx->motion_xforms.size(),
            ctx->motion_steps,
            ctx->shader_dir,
            ctx->output.grade[0]};
}

// A context with one material, one mesh with face materials and one instance.
void fill(VitrelContext* ctx) {
    ASSERT_EQ(add_plain_material(ctx), 0);
    const float pos[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const unsigned idx[3] = {0, 1, 2};
    const int faces[1] = {0};
    ASSERT_EQ(vitrel_add_mesh(ctx, pos, 3, idx, 1, nullptr, nullptr, nullptr, faces, 0), 0);
    const auto m = translation_matrix(0, 0, 0);
    ASSERT_EQ(vitrel_add_instance(ctx, 0, 0, m.data()), 0);
}

}  // namespace

TEST(AllocationFailure, CreateReturnsNullWhenMemoryRunsOut) {
    for (long n = 0;; ++n) {
        VitrelContext* ctx = nullptr;
        {
            const failing_heap::FailNth armed(n);
            ctx = vitrel_create();
        }
        if (ctx) {
            EXPECT_EQ(ctx->output.width, 512u);
            vitrel_destroy(ctx);
            break;
        }
        ASSERT_LT(n, 100) << "vitrel_create never succeeds";
    }
}

// Sizes the host gives that need far more memory than there is: the call
// fails before it reads the (small) data, and ids stay dense.
TEST(AllocationFailure, HugeCallerSizesFailTheCall) {
    ContextGuard g;
    VitrelContext* ctx = g.ctx;
    fill(ctx);
    const float data[16] = {};
    const unsigned idx[3] = {0, 1, 2};
    const struct {
        const char* what;
        std::function<int()> call;
    } cases[] = {
        {"8-bit texture", [&] { return vitrel_add_texture(ctx, data, 32768, 32768, 1, 0, 0); }},
        {"float texture", [&] { return vitrel_add_texture(ctx, data, 16384, 16384, 4, 1, 0); }},
        {"envmap", [&] { return vitrel_set_envmap(ctx, data, 32768, 16384, nullptr, 1); }},
        {"mesh vertices",
         [&] {
             return vitrel_add_mesh(ctx, data, 1 << 30, idx, 1, nullptr, nullptr, nullptr,
                                    nullptr, 0);
         }},
        {"mesh triangles",
         [&] {
             return vitrel_add_mesh(ctx, data, 3, idx, INT_MAX, nullptr, nullptr, nullptr,
                                    nullptr, 0);
         }},
        {"motion steps",
         [&] {
             vitrel_set_motion_blur(ctx, 1 << 28, 0.5f);
             return -1;
         }},
    };
    for (const auto& c : cases) {
        const Counts before = counts(ctx);
        int result = 0;
        {
            const failing_heap::FailAbove armed(kSmallHeap);
            result = c.call();
        }
        EXPECT_EQ(result, -1) << c.what;
        EXPECT_TRUE(counts(ctx) == before) << c.what;
    }
    EXPECT_EQ(vitrel_add_texture(ctx, data, 2, 2, 4, 1, 0), 0);
    EXPECT_EQ(add_triangle_mesh(ctx), 1);
}

// Every allocating call, with memory running out at each of its
// allocations in turn: each attempt fails without a trace, and the call
// succeeds once memory suffices.
TEST(AllocationFailure, EveryAllocationOfACallMayFail) {
    const float v3[3] = {0.5f, 0.5f, 0.5f};
    const float pos[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const float uvs[6] = {0, 0, 1, 0, 0, 1};
    const unsigned idx[3] = {0, 1, 2};
    const int faces[1] = {0};
    const auto matrix = translation_matrix(1, 2, 3);
    const std::string long_path(200, 'p');
    const struct {
        const char* what;
        std::function<int(VitrelContext*)> call;  // >= 0 on success
    } cases[] = {
        {"add_texture", [&](VitrelContext* c) { return vitrel_add_texture(c, pos, 1, 3, 3, 1, 0); }},
        {"add_material", [&](VitrelContext* c) { return add_plain_material(c); }},
        {"add_mesh",
         [&](VitrelContext* c) {
             return vitrel_add_mesh(c, pos, 3, idx, 1, pos, uvs, pos, faces, 0);
         }},
        {"add_instance", [&](VitrelContext* c) { return vitrel_add_instance(c, 0, 0, matrix.data()); }},
        {"set_envmap", [&](VitrelContext* c) { return vitrel_set_envmap(c, pos, 3, 1, v3, 1); }},
        {"add_keyframe",
         [&](VitrelContext* c) {
             vitrel_add_keyframe(c, v3, v3, 1);
             return c->scene.camera_keyframes.empty() ? -1 : 0;
         }},
        {"set_motion_blur",
         [&](VitrelContext* c) {
             vitrel_set_motion_blur(c, 3, 0.5f);
             return c->motion_steps == 3 ? 0 : -1;
         }},
        {"expr_tex_rgb", [&](VitrelContext* c) { return vitrel_expr_tex_rgb(c, 0, 0); }},
        {"expr_const_float", [&](VitrelContext* c) { return vitrel_expr_const_float(c, 0, 1); }},
        {"mat_set_expr",
         [&](VitrelContext* c) {
             vitrel_mat_set_expr(c, 0, 1, 0);
             return c->material_exprs[0].roughness.root == 0 ? 0 : -1;
         }},
        {"set_shader_paths",
         [&](VitrelContext* c) {
             vitrel_set_shader_paths(c, long_path.c_str(), long_path.c_str());
             return c->shader_dir == long_path ? 0 : -1;
         }},
    };
    for (const auto& c : cases) {
        ContextGuard g;
        fill(g.ctx);
        for (long n = 0;; ++n) {
            const Counts before = counts(g.ctx);
            int result = -1;
            {
                const failing_heap::FailNth armed(n);
                result = c.call(g.ctx);
            }
            if (result >= 0) break;
            ASSERT_TRUE(counts(g.ctx) == before) << c.what << ", allocation " << n;
            ASSERT_EQ(g.ctx->material_exprs.size(), g.ctx->scene.materials.size()) << c.what;
            ASSERT_LT(n, 100) << c.what << " never succeeds";
        }
    }
}
