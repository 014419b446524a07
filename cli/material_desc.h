// Every material parameter the call interface accepts, as one record with
// the interface's defaults, so that each importer fills in what its format
// carries and one function turns it into calls.
#pragma once

#include "api/vitrel_api.h"

struct MaterialDesc {
    float base_color[3] = {0.8f, 0.8f, 0.8f};
    float emission[3] = {0.0f, 0.0f, 0.0f};
    int albedo_tex = -1;
    int roughness_tex = -1;
    int metallic_tex = -1;
    int normal_tex = -1;
    int emission_tex = -1;
    float roughness = 0.5f;
    float metallic = 0.0f;
    float spec_trans = 0.0f;
    float ior = 1.5f;
    float specular = 0.5f;  // 0.5 is physical Fresnel reflectance
    float coat = 0.0f;
    float coat_roughness = 0.0f;
    float coat_ior = 1.5f;
    float sheen = 0.0f;
    float sheen_roughness = 0.3f;
    float anisotropy = 0.0f;
    float anisotropy_rotation = 0.0f;  // fraction of a turn
    float diffuse_roughness = 0.0f;
    float subsurface = 0.0f;
    float subsurface_radius[3] = {1.0f, 0.2f, 0.1f};
    float subsurface_scale = 0.05f;
    float subsurface_ior = 1.4f;
    float subsurface_anisotropy = 0.0f;
    float f82_tint[3] = {1.0f, 1.0f, 1.0f};
    float transmission_color[3] = {1.0f, 1.0f, 1.0f};
    float absorption_distance = 0.0f;
    float coat_color[3] = {1.0f, 1.0f, 1.0f};
    int thin_walled = 0;
    int alpha_mode = 0;  // 0 opaque, 1 mask, 2 blend
    float alpha = 1.0f;
    float alpha_cutoff = 0.5f;
};

// Adds the material and applies every setter; returns its id or -1.
inline int emit_material(VitrelContext* ctx, const MaterialDesc& m) {
    const int id = vitrel_add_material(ctx, m.base_color, m.emission, m.albedo_tex, m.roughness_tex,
                                       m.metallic_tex, m.normal_tex, m.roughness, m.metallic,
                                       m.spec_trans, m.ior, m.specular, m.coat, m.coat_roughness,
                                       m.coat_ior, m.sheen, m.sheen_roughness, m.anisotropy,
                                       m.anisotropy_rotation, m.diffuse_roughness);
    if (id < 0) return id;
    vitrel_set_material_subsurface(ctx, id, m.subsurface, m.subsurface_radius, m.subsurface_scale);
    vitrel_set_material_subsurface_ext(ctx, id, m.subsurface_ior, m.subsurface_anisotropy);
    vitrel_set_material_alpha(ctx, id, m.alpha_mode, m.alpha, m.alpha_cutoff);
    vitrel_set_material_emission_tex(ctx, id, m.emission_tex);
    vitrel_set_material_f82_tint(ctx, id, m.f82_tint);
    vitrel_set_material_transmission(ctx, id, m.transmission_color, m.absorption_distance);
    vitrel_set_material_coat_color(ctx, id, m.coat_color);
    vitrel_set_material_thin_walled(ctx, id, m.thin_walled);
    return id;
}
