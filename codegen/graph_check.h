// Decides whether a graph can be turned into valid GLSL before any text is
// written. Host graphs arrive unchecked, and one bad graph must not break
// the shader build for the whole scene, so a graph that fails here is
// replaced by its slot's default graph.
#pragma once

#include <string>
#include <vector>

#include "codegen/expr_ir.h"

// What the emitter needs about one accepted graph: which nodes get a
// variable, and each such variable's type.
struct EmitPlan {
    std::vector<bool> reachable;
    std::vector<ExprType> types;
};

// Number of inputs that opcode `op` writes into its GLSL text (0 to 3).
int expr_op_used_inputs(ExprOp op);

// Name of an opcode as used in messages ("Mul"); "op<N>" beyond the set.
std::string expr_op_name(ExprOp op);

// Reachability and variable types of any graph, as the emitter declares
// them: a pass-through opcode takes the type of its first input, which
// counts as float when it is not an earlier node.
EmitPlan plan_emission(const ExprGraph& graph);

// Checks graph `graph` for slot `slot` (0..4); `plan` is filled for the
// non-normal slots. On failure returns false and a one-phrase reason.
//
// Rules for albedo, roughness, metallic and emission: the root indexes a
// node; every node reachable from it refers, through each input its opcode
// uses, to a node with a smaller index (anything else would name a variable
// that does not exist); the operand types make the node's text compile as
// GLSL (ints convert to float where a float is needed, .r of a scalar is
// allowed; an int variable cannot take a float result, nor a vec3 a
// scalar); and the root's type is the slot's result type (vec3 for albedo
// and emission; float or int for roughness and metallic). In short: a
// graph is kept exactly when its text compiles.
//
// Rules for normal: a NormalMap root needs an input that indexes a ParamInt
// (of an int accessor) or a TexIndex node, since only that expression is
// written in place; any other root yields the unperturbed normal and is
// always accepted.
bool check_emittable(const ExprGraph& graph, int slot, EmitPlan& plan, std::string& why);
