// Small helpers over the expression IR: slot access and the result-type rule.
#include "codegen/expr_ir.h"

namespace {

// Shared by the const and non-const accessors; slots outside 1..4 give
// the albedo graph.
template <typename Data>
auto& slot_member(Data& data, int slot) {
    switch (slot) {
    case 1: return data.roughness;
    case 2: return data.metallic;
    case 3: return data.normal;
    case 4: return data.emission;
    default: return data.albedo;
    }
}

}  // namespace

ExprGraph& expr_slot(MaterialExprData& data, int slot) { return slot_member(data, slot); }

const ExprGraph& expr_slot(const MaterialExprData& data, int slot) {
    return slot_member(data, slot);
}

const char* expr_type_name(ExprType t) {
    switch (t) {
    case ExprType::Int: return "int";
    case ExprType::Vec3: return "vec3";
    case ExprType::Float: break;
    }
    return "float";
}

bool field_slot_valid(int32_t param) {
    return param >= 0 && static_cast<size_t>(param) < kFieldCount;
}

bool expr_op_passes_type(ExprOp op) {
    const unsigned o = static_cast<unsigned>(op);
    return (o >= static_cast<unsigned>(ExprOp::IfUv) && o <= static_cast<unsigned>(ExprOp::Abs)) ||
           op == ExprOp::LerpTime;
}

ExprType expr_op_own_type(ExprOp op) {
    switch (op) {
    case ExprOp::ParamFloat:
    case ExprOp::ConstFloat:
    case ExprOp::TexScalar:
    case ExprOp::TexScalarXform:
    case ExprOp::TexScalar1D:
    case ExprOp::Dot:
    case ExprOp::SplitR:
    case ExprOp::SplitG:
    case ExprOp::SplitB:
    case ExprOp::Time:
        return ExprType::Float;
    case ExprOp::ParamInt:
    case ExprOp::TexIndex:
        return ExprType::Int;
    case ExprOp::ParamVec3:
    case ExprOp::ConstVec3:
    case ExprOp::TexRgb:
    case ExprOp::TexRgbXform:
    case ExprOp::TexRgb1D:
    case ExprOp::CombineRgb:
    case ExprOp::NormalMap:
    case ExprOp::NormalNone:
        return ExprType::Vec3;
    default:
        break;
    }
    // Pass-through opcodes without a decidable first input, and opcodes
    // beyond the set, which only malformed host data can hold.
    if (expr_op_passes_type(op)) return ExprType::Float;
    return ExprType::Vec3;
}

ExprType expr_result_type(const ExprGraph& graph, int32_t i) {
    const size_t n = graph.nodes.size();
    // Each step visits a node; more steps than nodes means a loop.
    for (size_t steps = 0; steps <= n; ++steps) {
        if (i < 0 || static_cast<size_t>(i) >= n) return ExprType::Float;
        const ExprNode& node = graph.nodes[static_cast<size_t>(i)];
        if (!expr_op_passes_type(node.op)) return expr_op_own_type(node.op);
        i = node.in[0];
    }
    return ExprType::Float;
}
