#include "api/scene_shape.h"

#include "scene/scene.h"

namespace {

std::string changed(const char* what, size_t before, size_t now, const char* remedy) {
    return std::string(what) + " changed from " + std::to_string(before) + " to " +
           std::to_string(now) + " since the scene was uploaded; " + remedy;
}

constexpr const char* kPrepareAgain = "prepare again";
constexpr const char* kRebuildOrPrepare = "call vitrel_rebuild_tlas or prepare again";

}  // namespace

SceneShape capture_shape(const Scene& scene) {
    SceneShape s;
    s.materials = scene.materials.size();
    s.meshes = scene.meshes.size();
    s.textures = scene.textures.size();
    s.envmap_texture = scene.envmap_texture;
    s.env_conditional_cdf = scene.env_conditional_cdf.size();
    s.env_marginal_cdf = scene.env_marginal_cdf.size();
    s.emissive_instances = scene.emissive_instances.size();
    s.emissive_tri_cdf = scene.emissive_tri_cdf.size();
    s.light_cdf = scene.light_cdf.size();
    return s;
}

void record_light_upload(SceneShape& uploaded, const Scene& scene) {
    uploaded.emissive_instances = scene.emissive_instances.size();
    uploaded.emissive_tri_cdf = scene.emissive_tri_cdf.size();
    uploaded.light_cdf = scene.light_cdf.size();
}

std::string check_fixed_tables(const SceneShape& prepared, const Scene& scene) {
    const SceneShape now = capture_shape(scene);
    if (now.materials != prepared.materials)
        return changed("material count", prepared.materials, now.materials, kPrepareAgain);
    if (now.meshes != prepared.meshes)
        return changed("mesh count", prepared.meshes, now.meshes, kPrepareAgain);
    if (now.textures != prepared.textures)
        return changed("texture count", prepared.textures, now.textures, kPrepareAgain);
    if (now.envmap_texture != prepared.envmap_texture ||
        now.env_conditional_cdf != prepared.env_conditional_cdf ||
        now.env_marginal_cdf != prepared.env_marginal_cdf)
        return "environment map changed since the scene was uploaded; prepare again";
    return "";
}

std::string check_light_tables(const SceneShape& prepared, const Scene& scene) {
    const SceneShape now = capture_shape(scene);
    if (now.emissive_instances != prepared.emissive_instances)
        return changed("emissive instance count", prepared.emissive_instances,
                       now.emissive_instances, kRebuildOrPrepare);
    if (now.emissive_tri_cdf != prepared.emissive_tri_cdf || now.light_cdf != prepared.light_cdf)
        return "light tables changed since the scene was uploaded; " +
               std::string(kRebuildOrPrepare);
    return "";
}
