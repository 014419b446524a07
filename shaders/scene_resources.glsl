// The renderer's descriptor set as the shading library reads it: every
// buffer a library file expects, declared once at its binding from
// gpu_layout.h. Programs include this first, then the library files.
// Program-specific buffers (accumulators, geometry positions, normals,
// uvs) are declared by the programs themselves.
#ifndef VITREL_SCENE_RESOURCES_GLSL
#define VITREL_SCENE_RESOURCES_GLSL

#include "gpu_layout.h"

layout(std430, set = 0, binding = BINDING_SCENE_PARAMS) readonly buffer SceneParamsBlock { float scene_params[]; };
layout(std430, set = 0, binding = BINDING_MATERIALS) readonly buffer MaterialBlock { GpuMaterial materials[]; };
layout(std430, set = 0, binding = BINDING_INSTANCE_INFO) readonly buffer InstanceBlock { GpuInstance instance_info[]; };
layout(std430, set = 0, binding = BINDING_ESS_LUT) readonly buffer EssLutBlock { uint ess_lut_words[]; };
layout(std430, set = 0, binding = BINDING_INDICES) readonly buffer IndexBlock { uint mesh_indices[]; };
layout(std430, set = 0, binding = BINDING_EMISSIVES) readonly buffer EmissiveBlock { GpuEmissive emissives[]; };
layout(std430, set = 0, binding = BINDING_EMISSIVE_TRI_CDF) readonly buffer TriCdfBlock { uint emissive_tri_cdf[]; };
layout(std430, set = 0, binding = BINDING_ATLAS_DATA) readonly buffer AtlasDataBlock { uint atlas_words[]; };
layout(std430, set = 0, binding = BINDING_ATLAS_ENTRIES) readonly buffer AtlasEntryBlock { AtlasEntry atlas_entries[]; };
layout(std430, set = 0, binding = BINDING_SRGB_LUT) readonly buffer SrgbLutBlock { float srgb_lut[]; };
layout(std430, set = 0, binding = BINDING_LIGHT_CDF) readonly buffer LightCdfBlock { uint light_cdf[]; };
layout(std430, set = 0, binding = BINDING_ENV_CDF) readonly buffer EnvBlock { GpuEnvHeader env_header; uint env_words[]; };
layout(std430, set = 0, binding = BINDING_TANGENTS) readonly buffer TangentBlock { float vertex_tangents[]; };

#endif
