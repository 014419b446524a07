// Material expression graphs: the in-memory form shared by the expression
// calls, the default-graph builders, hashing and GLSL generation.
#pragma once

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

// Unused inputs and `param` are -1 and unused constants 0: these fill values
// take part in shape hashing, so two identical nodes built anywhere hash equal.
struct ExprNode {
    ExprOp op = ExprOp::ConstFloat;
    int32_t param = -1;
    int32_t in[3] = {-1, -1, -1};
    float value[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
};

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
