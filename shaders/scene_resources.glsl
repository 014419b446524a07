// The renderer's descriptor set as the shading library reads it: every
// buffer a library file expects, declared once at its binding from
// gpu_layout.h. Programs include this first, then the library files.
// Program-specific buffers (accumulators, geometry positions, normals,
// uvs) are declared by the programs themselves.
//
// Arrays the library reads at per-invocation indices go through buffer
// references to the memory their binding names (the address table at
// BINDING_ADDRESSES, written with the descriptors): a CPU driver
// (lavapipe) loads a storage-buffer element at a divergent index lane by
// lane, with a branch per lane and word, but a buffer-reference element
// with one gather, which made the path programs 1.3 times faster there.
// GPUs load both alike. The storage-buffer declaration stays, under
// NAME_bound, for BOUND_LENGTH (a buffer reference has no array length);
// NAME itself is the array of NAME_view, a reference initialised once at
// program start (a reference built at every use made lavapipe's start-up
// about 0.4 s longer, for the same trace time).
#ifndef VITREL_SCENE_RESOURCES_GLSL
#define VITREL_SCENE_RESOURCES_GLSL

#extension GL_EXT_buffer_reference : require
#extension GL_EXT_buffer_reference_uvec2 : require

#include "gpu_layout.h"

#define BOUND_LENGTH(a) a##_bound.length()

layout(std430, set = 0, binding = BINDING_ADDRESSES) readonly buffer AddressBlock { uvec2 buffer_addresses[]; };

// Element arrays of the referenced buffers, one view per element type.
layout(buffer_reference, std430, buffer_reference_align = 4) readonly buffer UintView { uint v[]; };
layout(buffer_reference, std430, buffer_reference_align = 4) readonly buffer IntView { int v[]; };
layout(buffer_reference, std430, buffer_reference_align = 4) readonly buffer FloatView { float v[]; };
layout(buffer_reference, std430, buffer_reference_align = 4) readonly buffer MaterialView { GpuMaterial v[]; };
layout(buffer_reference, std430, buffer_reference_align = 4) readonly buffer InstanceView { GpuInstance v[]; };
layout(buffer_reference, std430, buffer_reference_align = 4) readonly buffer EmissiveView { GpuEmissive v[]; };
layout(buffer_reference, std430, buffer_reference_align = 4) readonly buffer AtlasEntryView { AtlasEntry v[]; };
layout(buffer_reference, std430, buffer_reference_align = 4) readonly buffer EnvView { GpuEnvHeader header; uint v[]; };

layout(std430, set = 0, binding = BINDING_SCENE_PARAMS) readonly buffer SceneParamsBlock { float scene_params[]; };
layout(std430, set = 0, binding = BINDING_MATERIALS) readonly buffer MaterialBlock { GpuMaterial materials_bound[]; };
layout(std430, set = 0, binding = BINDING_INSTANCE_INFO) readonly buffer InstanceBlock { GpuInstance instance_info_bound[]; };
layout(std430, set = 0, binding = BINDING_ESS_LUT) readonly buffer EssLutBlock { uint ess_lut_words_bound[]; };
layout(std430, set = 0, binding = BINDING_INDICES) readonly buffer IndexBlock { uint mesh_indices_bound[]; };
layout(std430, set = 0, binding = BINDING_EMISSIVES) readonly buffer EmissiveBlock { GpuEmissive emissives_bound[]; };
layout(std430, set = 0, binding = BINDING_EMISSIVE_TRI_CDF) readonly buffer TriCdfBlock { uint emissive_tri_cdf_bound[]; };
layout(std430, set = 0, binding = BINDING_ATLAS_DATA) readonly buffer AtlasDataBlock { uint atlas_words_bound[]; };
layout(std430, set = 0, binding = BINDING_ATLAS_ENTRIES) readonly buffer AtlasEntryBlock { AtlasEntry atlas_entries_bound[]; };
layout(std430, set = 0, binding = BINDING_SRGB_LUT) readonly buffer SrgbLutBlock { float srgb_lut_bound[]; };
layout(std430, set = 0, binding = BINDING_LIGHT_CDF) readonly buffer LightCdfBlock { uint light_cdf_bound[]; };
layout(std430, set = 0, binding = BINDING_ENV_CDF) readonly buffer EnvBlock { GpuEnvHeader env_header; uint env_words_bound[]; };
layout(std430, set = 0, binding = BINDING_TANGENTS) readonly buffer TangentBlock { float vertex_tangents_bound[]; };

MaterialView materials_view = MaterialView(buffer_addresses[BINDING_MATERIALS]);
#define materials (materials_view.v)
InstanceView instance_info_view = InstanceView(buffer_addresses[BINDING_INSTANCE_INFO]);
#define instance_info (instance_info_view.v)
UintView ess_lut_words_view = UintView(buffer_addresses[BINDING_ESS_LUT]);
#define ess_lut_words (ess_lut_words_view.v)
UintView mesh_indices_view = UintView(buffer_addresses[BINDING_INDICES]);
#define mesh_indices (mesh_indices_view.v)
EmissiveView emissives_view = EmissiveView(buffer_addresses[BINDING_EMISSIVES]);
#define emissives (emissives_view.v)
UintView emissive_tri_cdf_view = UintView(buffer_addresses[BINDING_EMISSIVE_TRI_CDF]);
#define emissive_tri_cdf (emissive_tri_cdf_view.v)
UintView atlas_words_view = UintView(buffer_addresses[BINDING_ATLAS_DATA]);
#define atlas_words (atlas_words_view.v)
AtlasEntryView atlas_entries_view = AtlasEntryView(buffer_addresses[BINDING_ATLAS_ENTRIES]);
#define atlas_entries (atlas_entries_view.v)
FloatView srgb_lut_view = FloatView(buffer_addresses[BINDING_SRGB_LUT]);
#define srgb_lut (srgb_lut_view.v)
UintView light_cdf_view = UintView(buffer_addresses[BINDING_LIGHT_CDF]);
#define light_cdf (light_cdf_view.v)
EnvView env_words_view = EnvView(buffer_addresses[BINDING_ENV_CDF]);
#define env_words (env_words_view.v)
FloatView vertex_tangents_view = FloatView(buffer_addresses[BINDING_TANGENTS]);
#define vertex_tangents (vertex_tangents_view.v)

#endif
