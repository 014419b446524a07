// Material expression graphs: the in-memory form shared by the expression
// calls, the default-graph builders, hashing and GLSL generation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

enum class ExprOp : uint8_t {
    ParamFloat = 0,
    ParamVec3 = 1,
    ParamInt = 2,
    ConstFloat = 3,
    ConstVec3 = 4,
    TexIndex = 5,
    TexRgb = 6,
    TexScalar = 7,
    TexRgbXform = 8,
    TexScalarXform = 9,
    TexRgb1D = 10,
    TexScalar1D = 11,
    IfUv = 12,
    Mul = 13,
    Add = 14,
    Sub = 15,
    Mix = 16,
    Invert = 17,
    Clamp = 18,
    Pow = 19,
    Sqrt = 20,
    Abs = 21,
    Dot = 22,
    SplitR = 23,
    SplitG = 24,
    SplitB = 25,
    CombineRgb = 26,
    LerpTime = 27,
    Time = 28,
    NormalMap = 29,
    NormalNone = 30,
};

constexpr unsigned kExprOpCount = 31;

// Unused inputs and `param` are -1 and unused constants 0: these fill values
// take part in shape hashing, so two identical nodes built anywhere hash equal.
struct ExprNode {
    ExprOp op = ExprOp::ConstFloat;
    int32_t param = -1;
    int32_t in[3] = {-1, -1, -1};
    float value[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
};

// A node of `op` with inputs a, b, c and every other field at its fill value.
inline ExprNode make_expr_node(ExprOp op, int32_t a = -1, int32_t b = -1, int32_t c = -1) {
    ExprNode n;
    n.op = op;
    n.in[0] = a;
    n.in[1] = b;
    n.in[2] = c;
    return n;
}

// A parameter node (ParamFloat, ParamVec3, ParamInt) reading field_table row
// `slot`.
inline ExprNode make_param_node(ExprOp op, int32_t slot) {
    ExprNode n = make_expr_node(op);
    n.param = slot;
    return n;
}

struct ExprGraph {
    std::vector<ExprNode> nodes;
    int32_t root = -1;
};

// The five graphs of one material, in slot order 0..4. `albedo.nodes` doubles
// as the material's node pool for the expression calls.
struct MaterialExprData {
    ExprGraph albedo;
    ExprGraph roughness;
    ExprGraph metallic;
    ExprGraph normal;
    ExprGraph emission;
};

enum class ExprSlot : int { Albedo = 0, Roughness = 1, Metallic = 2, Normal = 3, Emission = 4 };
constexpr int kExprSlotCount = 5;

// Slot `slot` (0..4) of `data`; the member order above is the slot order.
// Any other number gives the albedo graph; callers check the range first.
ExprGraph& expr_slot(MaterialExprData& data, int slot);
const ExprGraph& expr_slot(const MaterialExprData& data, int slot);

// The three value types of the generated GLSL.
enum class ExprType : uint8_t { Float, Int, Vec3 };

// GLSL spelling of a type: "float", "int" or "vec3".
const char* expr_type_name(ExprType t);

// One material-parameter accessor that the including shader provides: it
// takes `int mid` and returns `type`.
struct FieldInfo {
    const char* accessor;
    ExprType type;
};

constexpr size_t kFieldCount = 14;

// Rows indexed by a parameter node's `param`.
inline constexpr std::array<FieldInfo, kFieldCount> field_table = {{
    {"gmat_base_color", ExprType::Vec3},
    {"gmat_roughness", ExprType::Float},
    {"gmat_metallic", ExprType::Float},
    {"gmat_specTrans", ExprType::Float},
    {"gmat_ior", ExprType::Float},
    {"gmat_emission", ExprType::Vec3},
    {"gmat_albedo_tex", ExprType::Int},
    {"gmat_roughness_tex", ExprType::Int},
    {"gmat_metallic_tex", ExprType::Int},
    {"gmat_normal_tex", ExprType::Int},
    {"gmat_emission_tex", ExprType::Int},
    {"gmat_alpha", ExprType::Float},
    {"gmat_alpha_mode", ExprType::Int},
    {"gmat_alpha_cutoff", ExprType::Float},
}};

// Slots 0..13 name a row of field_table; anything else is no parameter.
bool field_slot_valid(int32_t param);

// True for the opcodes whose result has the type of their first input
// (IfUv, the arithmetic opcodes 13..21 and LerpTime).
bool expr_op_passes_type(ExprOp op);

// The type an opcode produces on its own; for pass-through opcodes this is
// the type used when the chain of first inputs ends without an answer.
ExprType expr_op_own_type(ExprOp op);

// Result type of node i: follows first inputs through pass-through opcodes
// until a node decides. A chain that leaves the node list, reaches an absent
// input or loops (host graphs are unchecked) gives Float; an index outside
// the list gives Float as well.
ExprType expr_result_type(const ExprGraph& graph, int32_t i);
