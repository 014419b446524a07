// Texture lookups in the atlas: bilinear filtering with repeat wrapping,
// 8-bit or float texels, 1 to 4 channels.
//
// Coordinates: u runs along a row, v down the rows in the order the host
// supplied them (v = 0 is the first row, glTF's convention); texel (x, y)
// has its centre at ((x + 0.5) / width, (y + 0.5) / height).
//
// Colour and data: sample_texture_rgb decodes 8-bit texels from sRGB
// through the `srgb_lut` table unless the texture carries the linear-data
// flag (atlas flag bit 1, the `flag1` argument of vitrel_add_texture), as
// normal maps and other non-colour images must. sample_texture_scalar reads
// the first channel as linear data (byte / 255). Float texels are linear.
// One- and two-channel textures read as grey in sample_texture_rgb.
//
// A texture index outside the atlas directory, an empty texture or one whose
// texels would lie beyond the atlas data reads as 0; nothing outside the
// buffers is touched.
//
// The including program declares `uint atlas_words[]` (the atlas bytes),
// `AtlasEntry atlas_entries[]` and `float srgb_lut[]`.
#ifndef VITREL_TEXTURES_GLSL
#define VITREL_TEXTURES_GLSL

#include "bound_length.glsl"

#define TEXEL_MODE_SRGB 0
#define TEXEL_MODE_LINEAR 1

// Component c of texel (x, y), already wrapped into range.
float atlas_component(AtlasEntry e, uint x, uint y, uint c, int mode) {
    uint index = (y * e.width + x) * e.channels + c;
    if ((e.flags & ATLAS_FLAG_FLOAT) != 0u) {
        return uintBitsToFloat(atlas_words[(e.offset >> 2) + index]);
    }
    uint byte_offset = e.offset + index;
    uint code = (atlas_words[byte_offset >> 2] >> ((byte_offset & 3u) * 8u)) & 0xFFu;
    if (mode == TEXEL_MODE_SRGB && BOUND_LENGTH(srgb_lut) >= 256) return srgb_lut[code];
    return float(code) * (1.0 / 255.0);
}

// The texel as RGB (grey for one or two channels).
vec3 atlas_texel_rgb(AtlasEntry e, uint x, uint y, int mode) {
    if (e.channels < 3u) return vec3(atlas_component(e, x, y, 0u, mode));
    return vec3(atlas_component(e, x, y, 0u, mode), atlas_component(e, x, y, 1u, mode),
                atlas_component(e, x, y, 2u, mode));
}

// True when texture `tex` exists and all its texels lie inside the atlas.
bool atlas_entry_usable(int tex, out AtlasEntry e) {
    if (tex < 0 || tex >= BOUND_LENGTH(atlas_entries)) return false;
    e = atlas_entries[tex];
    if (e.width == 0u || e.height == 0u || e.channels == 0u || (e.offset & 3u) != 0u) return false;
    uint bytes_per = (e.flags & ATLAS_FLAG_FLOAT) != 0u ? 4u : 1u;
    // 64-bit free overflow check: components fit below 2^32 / 4 and the end
    // lies inside the data.
    uint limit = uint(BOUND_LENGTH(atlas_words)) * 4u;
    uint row = e.width * e.channels;
    if (e.channels > 4u || e.width > 0x3FFFFFFFu / e.channels) return false;
    if (e.height > (0x3FFFFFFFu / row)) return false;
    uint bytes = row * e.height * bytes_per;
    return e.offset <= limit && bytes <= limit - e.offset;
}

// Bilinear footprint: the four wrapped texel coordinates and the weights.
void bilinear_footprint(AtlasEntry e, vec2 uv, out uvec2 p0, out uvec2 p1, out vec2 t) {
    vec2 size = vec2(float(e.width), float(e.height));
    if (any(isnan(uv)) || any(isinf(uv))) uv = vec2(0.0);
    vec2 st = uv * size - 0.5;
    vec2 f = floor(st);
    t = st - f;
    // Repeat wrapping; the float modulo handles negative coordinates and
    // large tiling factors alike.
    vec2 w0 = f - size * floor(f / size);
    p0 = uvec2(clamp(w0, vec2(0.0), size - 1.0));
    p1 = uvec2(p0.x + 1u == e.width ? 0u : p0.x + 1u, p0.y + 1u == e.height ? 0u : p0.y + 1u);
}

vec3 sample_texture_rgb(int tex, vec2 uv) {
    AtlasEntry e;
    if (!atlas_entry_usable(tex, e)) return vec3(0.0);
    int mode = (e.flags & ATLAS_FLAG_FLAG1) != 0u ? TEXEL_MODE_LINEAR : TEXEL_MODE_SRGB;
    uvec2 p0;
    uvec2 p1;
    vec2 t;
    bilinear_footprint(e, uv, p0, p1, t);
    vec3 a = mix(atlas_texel_rgb(e, p0.x, p0.y, mode), atlas_texel_rgb(e, p1.x, p0.y, mode), t.x);
    vec3 b = mix(atlas_texel_rgb(e, p0.x, p1.y, mode), atlas_texel_rgb(e, p1.x, p1.y, mode), t.x);
    return mix(a, b, t.y);
}

float sample_texture_scalar(int tex, vec2 uv) {
    AtlasEntry e;
    if (!atlas_entry_usable(tex, e)) return 0.0;
    uvec2 p0;
    uvec2 p1;
    vec2 t;
    bilinear_footprint(e, uv, p0, p1, t);
    float a = mix(atlas_component(e, p0.x, p0.y, 0u, TEXEL_MODE_LINEAR),
                  atlas_component(e, p1.x, p0.y, 0u, TEXEL_MODE_LINEAR), t.x);
    float b = mix(atlas_component(e, p0.x, p1.y, 0u, TEXEL_MODE_LINEAR),
                  atlas_component(e, p1.x, p1.y, 0u, TEXEL_MODE_LINEAR), t.x);
    return mix(a, b, t.y);
}

// Nearest texel as RGB, linear for float textures (the environment map).
vec3 texel_fetch_rgb(int tex, uint x, uint y) {
    AtlasEntry e;
    if (!atlas_entry_usable(tex, e)) return vec3(0.0);
    int mode = (e.flags & ATLAS_FLAG_FLAG1) != 0u ? TEXEL_MODE_LINEAR : TEXEL_MODE_SRGB;
    return atlas_texel_rgb(e, min(x, e.width - 1u), min(y, e.height - 1u), mode);
}

#endif
