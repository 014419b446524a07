// Expression-building calls: each appends nodes to a material's node pool
// (the albedo graph's node list) and returns the new node's index.
// Node-index arguments are stored unchecked; the code generator decides
// whether a graph can be used when the material code is next generated.
#include <cmath>
#include <mutex>

#include "api/call_guard.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"

namespace {

constexpr int kRejected = -1;

ExprNode tex_index_node(int texture) {
    ExprNode n = make_expr_node(ExprOp::TexIndex);
    n.value[0] = static_cast<float>(texture);
    return n;
}

// Grows the expression list so that material `material` has an entry.
MaterialExprData& exprs_of(VitrelContext& ctx, int material) {
    const size_t index = static_cast<size_t>(material);
    if (ctx.material_exprs.size() <= index) ctx.material_exprs.resize(index + 1);
    return ctx.material_exprs[index];
}

bool material_valid(const VitrelContext& ctx, int material) {
    return material >= 0 && static_cast<size_t>(material) < ctx.scene.materials.size();
}

int add_node(VitrelContext* ctx, int material, const ExprNode& node) noexcept {
    if (!ctx || material < 0) return kRejected;
    return guarded_call(kRejected, [&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        if (!material_valid(*ctx, material)) return kRejected;
        std::vector<ExprNode>& pool = exprs_of(*ctx, material).albedo.nodes;
        pool.push_back(node);
        return static_cast<int>(pool.size() - 1);
    });
}

// A texture index node followed by the sampling node that reads it, both
// appended under one lock so the pair stays adjacent in the pool.
int add_texture_pair(VitrelContext* ctx, int material, int texture, ExprNode sampler) noexcept {
    if (!ctx || material < 0) return kRejected;
    return guarded_call(kRejected, [&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        if (!material_valid(*ctx, material)) return kRejected;
        std::vector<ExprNode>& pool = exprs_of(*ctx, material).albedo.nodes;
        pool.reserve(pool.size() + 2);  // both nodes or neither
        pool.push_back(tex_index_node(texture));
        sampler.in[0] = static_cast<int32_t>(pool.size() - 1);
        pool.push_back(sampler);
        return static_cast<int>(pool.size() - 1);
    });
}

ExprNode xform_sampler(ExprOp op, float scale_u, float scale_v, float offset_u, float offset_v,
                       float rotation) {
    ExprNode n = make_expr_node(op);
    n.value[0] = scale_u;
    n.value[1] = scale_v;
    n.value[2] = offset_u;
    n.value[3] = offset_v;
    n.value[4] = std::sin(rotation);
    n.value[5] = std::cos(rotation);
    return n;
}

}  // namespace

extern "C" {

int vitrel_expr_const_float(VitrelContext* ctx, int material, float v) noexcept {
    ExprNode n = make_expr_node(ExprOp::ConstFloat);
    n.value[0] = v;
    return add_node(ctx, material, n);
}

int vitrel_expr_const_vec3(VitrelContext* ctx, int material, float x, float y, float z) noexcept {
    ExprNode n = make_expr_node(ExprOp::ConstVec3);
    n.value[0] = x;
    n.value[1] = y;
    n.value[2] = z;
    return add_node(ctx, material, n);
}

int vitrel_expr_tex_rgb(VitrelContext* ctx, int material, int texture) noexcept {
    return add_texture_pair(ctx, material, texture, make_expr_node(ExprOp::TexRgb));
}

int vitrel_expr_tex_scalar(VitrelContext* ctx, int material, int texture) noexcept {
    return add_texture_pair(ctx, material, texture, make_expr_node(ExprOp::TexScalar));
}

int vitrel_expr_tex_rgb_xform(VitrelContext* ctx, int material, int texture, float scale_u,
                              float scale_v, float offset_u, float offset_v,
                              float rotation) noexcept {
    return add_texture_pair(
        ctx, material, texture,
        xform_sampler(ExprOp::TexRgbXform, scale_u, scale_v, offset_u, offset_v, rotation));
}

int vitrel_expr_tex_scalar_xform(VitrelContext* ctx, int material, int texture, float scale_u,
                                 float scale_v, float offset_u, float offset_v,
                                 float rotation) noexcept {
    return add_texture_pair(
        ctx, material, texture,
        xform_sampler(ExprOp::TexScalarXform, scale_u, scale_v, offset_u, offset_v, rotation));
}

int vitrel_expr_tex_rgb_1d(VitrelContext* ctx, int material, int texture, int coordinate) noexcept {
    return add_texture_pair(ctx, material, texture, make_expr_node(ExprOp::TexRgb1D, -1, coordinate));
}

int vitrel_expr_tex_scalar_1d(VitrelContext* ctx, int material, int texture,
                              int coordinate) noexcept {
    return add_texture_pair(ctx, material, texture, make_expr_node(ExprOp::TexScalar1D, -1, coordinate));
}

int vitrel_expr_time(VitrelContext* ctx, int material) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Time));
}

int vitrel_expr_lerp_time(VitrelContext* ctx, int material, int a, int b) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::LerpTime, a, b));
}

int vitrel_expr_mul(VitrelContext* ctx, int material, int a, int b) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Mul, a, b));
}

int vitrel_expr_add(VitrelContext* ctx, int material, int a, int b) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Add, a, b));
}

int vitrel_expr_sub(VitrelContext* ctx, int material, int a, int b) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Sub, a, b));
}

int vitrel_expr_mix(VitrelContext* ctx, int material, int a, int b, int t) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Mix, a, b, t));
}

int vitrel_expr_invert(VitrelContext* ctx, int material, int a) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Invert, a));
}

int vitrel_expr_abs(VitrelContext* ctx, int material, int a) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Abs, a));
}

int vitrel_expr_sqrt(VitrelContext* ctx, int material, int a) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Sqrt, a));
}

int vitrel_expr_dot(VitrelContext* ctx, int material, int a, int b) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Dot, a, b));
}

int vitrel_expr_pow(VitrelContext* ctx, int material, int a, int b) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Pow, a, b));
}

int vitrel_expr_clamp(VitrelContext* ctx, int material, int x, int lo, int hi) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::Clamp, x, lo, hi));
}

int vitrel_expr_if_uv(VitrelContext* ctx, int material, int with_uv, int without_uv) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::IfUv, with_uv, without_uv));
}

int vitrel_expr_split_r(VitrelContext* ctx, int material, int a) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::SplitR, a));
}

int vitrel_expr_split_g(VitrelContext* ctx, int material, int a) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::SplitG, a));
}

int vitrel_expr_split_b(VitrelContext* ctx, int material, int a) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::SplitB, a));
}

int vitrel_expr_combine_rgb(VitrelContext* ctx, int material, int r, int g, int b) noexcept {
    return add_node(ctx, material, make_expr_node(ExprOp::CombineRgb, r, g, b));
}

void vitrel_mat_set_expr(VitrelContext* ctx, int material, int slot, int root) noexcept {
    if (!ctx || material < 0 || slot < 0 || slot >= kExprSlotCount) return;
    guarded_call([&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        if (!material_valid(*ctx, material)) return;
        MaterialExprData& data = exprs_of(*ctx, material);
        ExprGraph& graph = expr_slot(data, slot);
        // Slot 0 owns the pool itself; the other slots take a snapshot of it.
        if (slot != static_cast<int>(ExprSlot::Albedo)) {
            std::vector<ExprNode> snapshot = data.albedo.nodes;
            graph.nodes.swap(snapshot);
        }
        graph.root = root;
    });
}

}  // extern "C"
