#include "scene/scene_loader.h"

#include <cstdio>
#include <string>

#include "scene/json.h"
#include "scene/scene_prep.h"

namespace {

constexpr size_t kReadChunk = 1 << 20;

// The whole file, or "" when it cannot be opened or read.
std::string read_file(const char* path) {
    std::FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f) {
        std::fprintf(stderr, "Cannot open %s\n", path ? path : "(null)");
        return {};
    }
    std::string content;
    size_t got = 0;
    do {
        content.resize(content.size() + kReadChunk);
        got = std::fread(content.data() + content.size() - kReadChunk, 1, kReadChunk, f);
        content.resize(content.size() - kReadChunk + got);
    } while (got == kReadChunk);
    if (std::ferror(f)) content.clear();
    std::fclose(f);
    return content;
}

float number_or(const JsonValue& v, float fallback) {
    return v.kind == JsonKind::Number ? static_cast<float>(v.number) : fallback;
}

// Elements 0..2 of an array of numbers; missing or non-number elements are 0.
void read_vec3(const JsonValue& v, float out[3]) {
    for (size_t i = 0; i < 3; ++i)
        out[i] = (v.kind == JsonKind::Array && i < v.array.size()) ? number_or(v.array[i], 0.0f) : 0.0f;
}

CameraKeyframe read_keyframe(const JsonValue& v) {
    CameraKeyframe k;  // a non-object element reads as all zeros
    k.time = number_or(v["time"], 0.0f);
    read_vec3(v["position"], k.position);
    read_vec3(v["look_at"], k.look_at);
    return k;
}

bool has(const JsonValue& object, const char* key) {
    return object.object.find(key) != object.object.end();
}

void read_animation(const JsonValue& anim, Scene& scene) {
    if (anim.kind != JsonKind::Object) return;
    if (has(anim, "duration")) scene.anim_duration = number_or(anim["duration"], 0.0f);
    if (has(anim, "fps")) scene.anim_fps = number_or(anim["fps"], 30.0f);
    if (has(anim, "loop")) {
        const JsonValue& loop = anim["loop"];
        scene.anim_loop = loop.kind == JsonKind::Boolean && loop.boolean;
    }
    const JsonValue& keys = anim["keyframes"];
    if (keys.kind != JsonKind::Array) return;
    scene.camera_keyframes.reserve(keys.array.size());
    for (const JsonValue& k : keys.array) scene.camera_keyframes.push_back(read_keyframe(k));
}

}  // namespace

Scene load_scene(const char* path, int width, int height, float overscan_scale) {
    Scene scene;
    const std::string content = read_file(path);
    if (content.empty()) {
        std::fprintf(stderr, "load_scene: failed to read %s\n", path ? path : "(null)");
        return scene;
    }
    JsonParser parser(content.data(), content.data() + content.size());
    const JsonValue root = parser.parse_value();
    std::printf("Loading scene: %s\n", path);

    read_animation(root["animation"], scene);
    if (!scene.camera_keyframes.empty()) {
        const CameraKeyframe& first = scene.camera_keyframes.front();
        for (int i = 0; i < 3; ++i) {
            scene.camera_position[i] = first.position[i];
            scene.camera_look_at[i] = first.look_at[i];
        }
    }
    build_scene_buffer(scene, width, height, overscan_scale);
    return scene;
}
