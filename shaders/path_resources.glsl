// Buffers that the path programs read beyond the shading library's set
// (scene_resources.glsl): the acceleration structure, vertex data, face
// materials; the framebuffers (the trace pass writes the per-sample
// scratch), the push block and the sampler seed it carries.
#ifndef VITREL_PATH_RESOURCES_GLSL
#define VITREL_PATH_RESOURCES_GLSL

#include "framebuffers.glsl"
#include "push_block.glsl"
#include "scene_resources.glsl"

// The path programs scramble their samples by the trace pass's seed word;
// the sampler takes the seed when it is first included, so it must come
// after this file.
#ifdef VITREL_SAMPLING_GLSL
#error "include path_resources.glsl before sampling.glsl"
#endif
#define SAMPLER_SEED pc.TRACE_SEED_WORD

layout(set = 0, binding = BINDING_TLAS) uniform accelerationStructureEXT tlas;
// Read through buffer references, as the arrays of scene_resources.glsl.
layout(std430, set = 0, binding = BINDING_POSITIONS) readonly buffer PositionBlock { float vertex_positions_bound[]; };
layout(std430, set = 0, binding = BINDING_FACE_MATERIALS) readonly buffer FaceMaterialBlock { int face_materials_bound[]; };
layout(std430, set = 0, binding = BINDING_NORMALS) readonly buffer NormalBlock { float vertex_normals_bound[]; };
layout(std430, set = 0, binding = BINDING_UVS) readonly buffer UvBlock { float vertex_uvs_bound[]; };
FloatView vertex_positions_view = FloatView(buffer_addresses[BINDING_POSITIONS]);
#define vertex_positions (vertex_positions_view.v)
IntView face_materials_view = IntView(buffer_addresses[BINDING_FACE_MATERIALS]);
#define face_materials (face_materials_view.v)
FloatView vertex_normals_view = FloatView(buffer_addresses[BINDING_NORMALS]);
#define vertex_normals (vertex_normals_view.v)
FloatView vertex_uvs_view = FloatView(buffer_addresses[BINDING_UVS]);
#define vertex_uvs (vertex_uvs_view.v)

#endif
