// Generation of "material_eval.glsl": one GLSL function per distinct graph
// shape and parameter kind, and five entry points that dispatch on the
// material index (eval_albedo, eval_roughness, eval_metallic,
// eval_normal_map, eval_emission).
//
// The including shader must define, before the include:
//   vec3 sample_texture_rgb(int tex, vec2 uv);
//   float sample_texture_scalar(int tex, vec2 uv);
//   bool read_tangent(uint instanceIdx, int primitiveId, vec2 barycentrics,
//                     out vec3 tangent);
//   and the 14 accessors of field_table, each `T gmat_xxx(int mid)`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/vitrel_export.h"
#include "codegen/expr_ir.h"
#include "codegen/shape_hash.h"
#include "scene/scene.h"

// Builds the unit for every material of `scene` (only its material list is
// read). `exprs` holds the host's graphs per material and may be null or
// shorter than the material list; a missing or unselected graph means the
// default graph from the material's parameters.
//
// A selected host graph that cannot be written as valid GLSL (an input that
// is absent, dangling, forward or self-referencing, operand types that GLSL
// rejects, a result of the wrong type, a NormalMap whose texture index is
// not a TexIndex or integer parameter node) is replaced by that slot's
// default graph, and one line naming the material, the slot and the reason
// goes to standard error. Pure apart from those lines; never throws except
// on allocation failure.
VITREL_EXPORT std::string generate_material_eval_glsl(const Scene& scene,
                                                      const std::vector<MaterialExprData>* exprs);

// The GLSL float literal of f: "%.9g" in the C locale (never the host's
// decimal comma) with ".0" appended when neither a
// point nor an exponent shows; NaN gives "0.0" and infinities the largest
// finite float with their sign.
std::string flit(float f);

// The function `type name(int mid, vec2 uv, bool have_uv, float time)` that
// evaluates `graph`, written without any check: for a graph that
// check_emittable accepts exactly the text of the unit, for any other the
// text it would have had (which does not compile; tests compile it to show
// that only such graphs are replaced).
std::string graph_function_text(const ExprGraph& graph, const char* type, const std::string& name);

// The GLSL expression of node i (an index outside the list gives "0").
// Inputs are named "_v" plus their index, unchecked.
std::string emit_node_inline(const ExprGraph& graph, int32_t i);

// Writes the shared functions and the entry point of one non-normal
// parameter kind; `graphs` holds one graph per material, already accepted
// for the kind. A graph that is not acceptable gets a function returning
// `fallback`, so the text stays valid GLSL. Graphs share a function when
// `hash` (replaceable for tests) gives them equal values and their shapes
// are confirmed equal.
void gen_param(const char* prefix, const char* entry, const char* type, const char* fallback,
               const std::vector<ExprGraph>& graphs, std::string& out,
               ShapeHashFn hash = expr_shape_hash);

// The normal-map functions and eval_normal_map, one graph per material.
void gen_normal(const std::vector<ExprGraph>& graphs, std::string& out,
                ShapeHashFn hash = expr_shape_hash);

// The graph of slot `slot` (0..4) for material `index` of `scene`, host or
// default, with an unusable host graph replaced as described above (and
// its line written to standard error).
ExprGraph choose_usable_graph(const Scene& scene, size_t index,
                              const std::vector<MaterialExprData>* exprs, int slot);
