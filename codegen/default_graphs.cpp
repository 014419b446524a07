// Default graphs from material parameters and the host-or-default choice.
#include "codegen/default_graphs.h"

namespace {

// Parameter slots (rows of field_table) read by the default graphs.
constexpr int32_t kFieldBaseColor = 0;
constexpr int32_t kFieldRoughness = 1;
constexpr int32_t kFieldMetallic = 2;
constexpr int32_t kFieldEmission = 5;
constexpr int32_t kFieldAlbedoTex = 6;
constexpr int32_t kFieldRoughnessTex = 7;
constexpr int32_t kFieldMetallicTex = 8;
constexpr int32_t kFieldNormalTex = 9;
constexpr int32_t kFieldEmissionTex = 10;

ExprGraph single(ExprNode n) {
    ExprGraph g;
    g.nodes.push_back(n);
    g.root = 0;
    return g;
}

// Parameter, texture index, sampled texture, and the sample where the hit
// has UVs: the shape shared by albedo, roughness and metallic.
ExprGraph textured(ExprOp param_op, int32_t param, int32_t tex_param, ExprOp sample_op) {
    ExprGraph g;
    g.nodes = {make_param_node(param_op, param), make_param_node(ExprOp::ParamInt, tex_param),
               make_expr_node(sample_op, 1), make_expr_node(ExprOp::IfUv, 2, 0)};
    g.root = 3;
    return g;
}

}  // namespace

ExprGraph build_albedo_expr(const Material& m) {
    if (m.albedo_tex < 0) return single(make_param_node(ExprOp::ParamVec3, kFieldBaseColor));
    return textured(ExprOp::ParamVec3, kFieldBaseColor, kFieldAlbedoTex, ExprOp::TexRgb);
}

ExprGraph build_roughness_expr(const Material& m) {
    if (m.roughness_tex < 0) return single(make_param_node(ExprOp::ParamFloat, kFieldRoughness));
    return textured(ExprOp::ParamFloat, kFieldRoughness, kFieldRoughnessTex, ExprOp::TexScalar);
}

ExprGraph build_metallic_expr(const Material& m) {
    if (m.metallic_tex < 0) return single(make_param_node(ExprOp::ParamFloat, kFieldMetallic));
    return textured(ExprOp::ParamFloat, kFieldMetallic, kFieldMetallicTex, ExprOp::TexScalar);
}

ExprGraph build_normal_expr(const Material& m) {
    if (m.normal_tex < 0) return single(make_expr_node(ExprOp::NormalNone));
    ExprGraph g;
    g.nodes = {make_param_node(ExprOp::ParamInt, kFieldNormalTex), make_expr_node(ExprOp::NormalMap, 0)};
    g.root = 1;
    return g;
}

ExprGraph build_emission_expr(const Material& m) {
    if (m.emission_tex < 0) return single(make_param_node(ExprOp::ParamVec3, kFieldEmission));
    // Unlike albedo, the texture scales the emission colour.
    ExprGraph g;
    g.nodes = {make_param_node(ExprOp::ParamVec3, kFieldEmission),
               make_param_node(ExprOp::ParamInt, kFieldEmissionTex), make_expr_node(ExprOp::TexRgb, 1),
               make_expr_node(ExprOp::Mul, 0, 2), make_expr_node(ExprOp::IfUv, 3, 0)};
    g.root = 4;
    return g;
}

ExprGraph build_default_expr(const Material& m, int slot) {
    switch (slot) {
    case 1: return build_roughness_expr(m);
    case 2: return build_metallic_expr(m);
    case 3: return build_normal_expr(m);
    case 4: return build_emission_expr(m);
    default: return build_albedo_expr(m);
    }
}

bool host_graph_selected(const ExprGraph& graph) {
    return graph.root >= 0 && static_cast<size_t>(graph.root) < graph.nodes.size();
}

ExprGraph choose_expr_graph(const Material& m, size_t index,
                            const std::vector<MaterialExprData>* exprs, int slot) {
    if (exprs && index < exprs->size()) {
        const ExprGraph& host = expr_slot((*exprs)[index], slot);
        if (host_graph_selected(host)) return host;
    }
    return build_default_expr(m, slot);
}
