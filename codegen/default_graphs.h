// Default expression graphs, built from which texture slots of a material
// are present. They copy no colour or number out of the material: every
// value is read through the field_table accessors at shading time, so all
// materials with the same set of textures get graphs of one shape.
#pragma once

#include <vector>

#include "scene/vitrel_export.h"
#include "codegen/expr_ir.h"
#include "scene/scene.h"

// A texture slot is present when its index is 0 or greater.
VITREL_EXPORT ExprGraph build_albedo_expr(const Material& m);
VITREL_EXPORT ExprGraph build_roughness_expr(const Material& m);
VITREL_EXPORT ExprGraph build_metallic_expr(const Material& m);
VITREL_EXPORT ExprGraph build_normal_expr(const Material& m);
VITREL_EXPORT ExprGraph build_emission_expr(const Material& m);

// The default graph of slot `slot` (0..4) for material `m`.
ExprGraph build_default_expr(const Material& m, int slot);

// True when the host graph replaces the default: it has nodes and its root
// indexes one of them. Says nothing about whether it can be emitted.
bool host_graph_selected(const ExprGraph& graph);

// The graph of slot `slot` for material `index`: the host's graph from
// `exprs` when one is selected for it, else the default builder's.
ExprGraph choose_expr_graph(const Material& m, size_t index,
                            const std::vector<MaterialExprData>* exprs, int slot);
