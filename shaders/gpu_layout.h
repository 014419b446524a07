// Data layouts shared by the host (C++) and the GPU programs (GLSL). This is
// the only definition of these records: the shaders include this file, and
// the C++ side pins every size and offset below so that a change on one side
// cannot silently break the other. All records are tightly packed 4-byte
// words, read in std430 buffers.
#ifndef VITREL_GPU_LAYOUT_H
#define VITREL_GPU_LAYOUT_H

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#define GL_UINT uint32_t
#define GL_INT int32_t
#else
#define GL_UINT uint
#define GL_INT int
#endif

// One packed material, 47 words. Word 14 holds the dielectric reflectance
// 2 * ((ior - 1) / (ior + 1))^2 * specular rather than `specular` itself.
struct GpuMaterial {
    float base_color[3];
    float roughness;
    float metallic;
    float spec_trans;
    float ior;
    float extra_a;
    float emission[3];
    float extra_b;
    GL_INT albedo_tex;
    GL_INT roughness_tex;
    float dielectric_f0;
    float extra_c;
    GL_INT metallic_tex;
    GL_INT normal_tex;
    float extra_params[7];
    float subsurface;
    float subsurface_radius[3];
    float subsurface_scale;
    float alpha;
    GL_INT alpha_mode;
    float alpha_cutoff;
    GL_INT emission_tex;
    float subsurface_ext[2];
    float f82_tint[3];
    float transmission_color[3];
    float transmission_extra;
    float coat_color[3];
    GL_INT thin_walled;
};

// Directory entry of one texture in the atlas byte buffer.
#define ATLAS_FLAG_FLOAT 1u
#define ATLAS_FLAG_FLAG1 2u
struct AtlasEntry {
    GL_UINT offset;  // byte offset of the first texel, a multiple of 4
    GL_UINT width;
    GL_UINT height;
    GL_UINT channels;
    GL_UINT flags;  // ATLAS_FLAG_FLOAT | ATLAS_FLAG_FLAG1
    GL_UINT reserved[3];
};

// Scene preparation tables. Sampling tables are quantised CDFs of 32-bit
// words whose last entry is CDF_LAST_ENTRY, so that the first entry not below
// any uniformly drawn 32-bit number always exists. `scene_params` is a float
// array: a header of SCENE_PARAMS_HEADER_FLOATS (indices SP_*), one block of
// SP_DE_BLOCK_FLOATS per extra object, then with two or more camera keyframes
// an animation header of SP_ANIM_HEADER_FLOATS (indices SP_ANIM_*) followed by
// SP_KEYFRAME_FLOATS per keyframe. Counts and flags are stored as floats.
#define CDF_LAST_ENTRY 0xFFFFFFFFu
#define ATLAS_OFFSET_ALIGNMENT 4u
#define SCENE_PARAMS_HEADER_FLOATS 32
#define SP_EMISSIVE_COUNT 0
#define SP_MATERIAL_COUNT 2
#define SP_CAMERA_POSITION 4
#define SP_CAMERA_APERTURE 7
#define SP_LOWER_LEFT 8
#define SP_FOCUS_DISTANCE 11
#define SP_HORIZONTAL 12
#define SP_VERTICAL 16
#define SP_DE_COUNT 20
#define SP_KEYFRAME_COUNT 21
#define SP_ENV_ACTIVE 22
#define SP_LIGHT_COUNT 23
#define SP_ENV_LIGHT_PDF 24
#define SP_SHUTTER_FRAMES 25
#define SP_ANY_MOVING 26
#define SP_DE_BLOCK_FLOATS 8   // params[0..3], kind, 0, 0, 0
#define SP_ANIM_HEADER_FLOATS 8
#define SP_ANIM_KEYFRAME_COUNT 0
#define SP_ANIM_DURATION 1
#define SP_ANIM_LOOP 2
#define SP_ANIM_HALF_HEIGHT 3
#define SP_ANIM_CAMERA_UP 4
#define SP_ANIM_FRAME_TIME 7   // 1 / anim_fps
#define SP_KEYFRAME_FLOATS 8   // time, position[3], look_at[3], 0
#ifdef __cplusplus
static_assert(SP_ANY_MOVING < SCENE_PARAMS_HEADER_FLOATS);
static_assert(SP_ANIM_FRAME_TIME < SP_ANIM_HEADER_FLOATS);
static_assert(offsetof(AtlasEntry, offset) == 0 && offsetof(AtlasEntry, width) == 4);
static_assert(offsetof(AtlasEntry, height) == 8 && offsetof(AtlasEntry, channels) == 12);
static_assert(offsetof(AtlasEntry, reserved) == 20);
#endif

#ifdef __cplusplus
static_assert(sizeof(GpuMaterial) == 188, "GpuMaterial is 47 words");
static_assert(offsetof(GpuMaterial, roughness) == 12);
static_assert(offsetof(GpuMaterial, extra_a) == 28);
static_assert(offsetof(GpuMaterial, emission) == 32);
static_assert(offsetof(GpuMaterial, albedo_tex) == 48);
static_assert(offsetof(GpuMaterial, dielectric_f0) == 56);
static_assert(offsetof(GpuMaterial, metallic_tex) == 64);
static_assert(offsetof(GpuMaterial, extra_params) == 72);
static_assert(offsetof(GpuMaterial, subsurface) == 100);
static_assert(offsetof(GpuMaterial, subsurface_scale) == 116);
static_assert(offsetof(GpuMaterial, alpha) == 120);
static_assert(offsetof(GpuMaterial, alpha_mode) == 124);
static_assert(offsetof(GpuMaterial, alpha_cutoff) == 128);
static_assert(offsetof(GpuMaterial, emission_tex) == 132);
static_assert(offsetof(GpuMaterial, subsurface_ext) == 136);
static_assert(offsetof(GpuMaterial, f82_tint) == 144);
static_assert(offsetof(GpuMaterial, transmission_color) == 156);
static_assert(offsetof(GpuMaterial, transmission_extra) == 168);
static_assert(offsetof(GpuMaterial, coat_color) == 172);
static_assert(offsetof(GpuMaterial, thin_walled) == 184);
static_assert(sizeof(AtlasEntry) == 32, "AtlasEntry is 8 words");
static_assert(offsetof(AtlasEntry, flags) == 16);
#endif

#undef GL_UINT
#undef GL_INT
#endif
