#include "render/render_test_support.h"

#include <unistd.h>

#include "scene/scene_prep.h"

namespace fs = std::filesystem;

std::string built_shader_dir() { return VITREL_BUILT_SHADER_DIR; }

fs::path fresh_dir(const std::string& name) {
    const fs::path dir =
        fs::temp_directory_path() / ("vitrel_" + name + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string test_source_dir() {
    const fs::path dir = fresh_dir("render_src");
    for (const auto& entry : fs::directory_iterator(source_dir() + "/shaders"))
        if (entry.is_regular_file()) fs::copy_file(entry.path(), dir / entry.path().filename());
    fs::copy_file(source_dir() + "/tests/render/shaders/eye_path.rgen", dir / "eye_path.rgen",
                  fs::copy_options::overwrite_existing);
    return dir.string();
}

Scene plane_scene(float x0, float distance) {
    Scene scene;
    MeshData quad;
    quad.positions = {x0, -5, 0, x0 + 10, -5, 0, x0 + 10, 5, 0, x0, 5, 0};
    quad.indices = {0, 1, 2, 0, 2, 3};
    compute_face_normals(quad);
    scene.meshes = {quad};
    scene.instances = {Instance{}};
    const float position[3] = {0, 0, distance};
    const float lookAt[3] = {0, 0, 0};
    std::copy_n(position, 3, scene.camera_position);
    std::copy_n(lookAt, 3, scene.camera_look_at);
    scene.camera_fov = 60.0f;
    return scene;
}

RenderOutput small_output(uint32_t width, uint32_t height, uint32_t overscan, uint32_t quality) {
    RenderOutput o;
    o.width = width;
    o.height = height;
    o.overscan = overscan;
    o.quality = quality;
    return o;
}

std::string RenderTest::prepare(Scene& scene, const RenderOutput& output,
                                const std::string& sourceDir) {
    build_scene_buffer(scene, static_cast<int>(output.width), static_cast<int>(output.height),
                       output.overscan_scale());
    const std::string printed = capture_stdout(
        [&] { renderer->createPipelines(scene, built_shader_dir(), sourceDir, nullptr); });
    capture_stdout([&] {
        renderer->buildAccelerationStructures(scene);
        renderer->createBuffers(scene, output, {});
    });
    renderer->createDescriptors();
    renderer->updateDescriptors();
    return printed;
}

void RenderTest::rebuildPipelines(Scene& scene, const std::string& sourceDir) {
    capture_stdout(
        [&] { renderer->createPipelines(scene, built_shader_dir(), sourceDir, nullptr); });
    renderer->createDescriptors();
    renderer->updateDescriptors();
}

std::vector<float> RenderTest::eyeAccum() {
    std::vector<float> eye;
    std::vector<int32_t> light;
    renderer->readbackFramebuffers(eye, light);
    return eye;
}
