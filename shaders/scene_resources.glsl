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
// NAME itself is the reference's array.
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

#define materials (MaterialView(buffer_addresses[BINDING_MATERIALS]).v)
#define instance_info (InstanceView(buffer_addresses[BINDING_INSTANCE_INFO]).v)
#define ess_lut_words (UintView(buffer_addresses[BINDING_ESS_LUT]).v)
#define mesh_indices (UintView(buffer_addresses[BINDING_INDICES]).v)
#define emissives (EmissiveView(buffer_addresses[BINDING_EMISSIVES]).v)
#define emissive_tri_cdf (UintView(buffer_addresses[BINDING_EMISSIVE_TRI_CDF]).v)
#define atlas_words (UintView(buffer_addresses[BINDING_ATLAS_DATA]).v)
#define atlas_entries (AtlasEntryView(buffer_addresses[BINDING_ATLAS_ENTRIES]).v)
#define srgb_lut (FloatView(buffer_addresses[BINDING_SRGB_LUT]).v)
#define light_cdf (UintView(buffer_addresses[BINDING_LIGHT_CDF]).v)
#define env_words (EnvView(buffer_addresses[BINDING_ENV_CDF]).v)
#define vertex_tangents (FloatView(buffer_addresses[BINDING_TANGENTS]).v)

#endif
