#include "cli/render_options.h"

#include <cstdio>

namespace {

constexpr int kMaxImageEdge = 32768;
constexpr int kMaxQuality = 8;
constexpr int kMaxBounces = 1024;

}  // namespace

bool parse_size(const std::string& text, int& width, int& height) {
    int w = 0, h = 0, used = 0;
    if (std::sscanf(text.c_str(), "%dx%d%n", &w, &h, &used) != 2 || used != static_cast<int>(text.size())) return false;
    if (w < 1 || h < 1 || w > kMaxImageEdge || h > kMaxImageEdge) return false;
    width = w;
    height = h;
    return true;
}

bool parse_frames(const std::string& text, FrameRange& range) {
    int a = 0, b = 0, used = 0;
    if (std::sscanf(text.c_str(), "%d-%d%n", &a, &b, &used) == 2 && used == static_cast<int>(text.size())) {
        if (a < 0 || b < a) return false;
        range = {a, b};
        return true;
    }
    if (std::sscanf(text.c_str(), "%d%n", &a, &used) == 1 && used == static_cast<int>(text.size()) && a >= 0) {
        range = {a, a};
        return true;
    }
    return false;
}

void add_render_options(CLI::App& r, RenderOptions& o) {
    r.add_option("scene", o.scene, "Scene file: .json, .gltf, .glb, .obj or .vsb (default: the built-in Cornell box)");
    r.add_option("-o,--output", o.output, "Output image: .png (8-bit display) or .exr (linear float, AOV layers)");
    r.add_option("--spp", o.spp, "Samples per pixel (default: 64, or fewer if 30 s of rendering pass first)")->check(CLI::Range(1, 1 << 20));
    r.add_option("--time", o.time_budget, "Render until this many seconds have passed (with --spp: whichever comes first)")
        ->check(CLI::PositiveNumber);
    r.add_option_function<std::string>(
         "--size",
         [&o](const std::string& s) {
             if (!parse_size(s, o.width, o.height)) throw CLI::ValidationError("--size", "expected WxH, e.g. 640x480");
         },
         "Image size in pixels, WxH (default 256x256)");
    r.add_option("--quality", o.quality, "Supersampling factor per axis (default 2)")->check(CLI::Range(1, kMaxQuality));
    r.add_option("--bounces", o.bounces, "Longest light path in bounces (default 6)")->check(CLI::Range(1, kMaxBounces));
    r.add_flag("--caustics", o.caustics, "Add light tracing: far less noise in caustics through glass and mirrors");
    r.add_option("--exposure", o.exposure, "Exposure multiplier (default 1)")->check(CLI::PositiveNumber);
    r.add_option("--grade", o.grade, "Colour grade: neutral, punchy, filmic, bleach_bypass")
        ->check(CLI::IsMember({"neutral", "punchy", "filmic", "bleach_bypass"}));
    r.add_option("--env", o.env, "Environment map: latitude-longitude .hdr or .exr");
    r.add_option("--env-intensity", o.env_intensity, "Environment radiance multiplier (default 1)")->check(CLI::NonNegativeNumber);
    r.add_option("--env-rotation", o.env_rotation, "Environment rotation about the vertical axis, degrees");
    r.add_option("--camera-pos", o.camera_pos, "Camera position x,y,z")->delimiter(',')->expected(3);
    r.add_option("--look-at", o.look_at, "Point the camera looks at, x,y,z")->delimiter(',')->expected(3);
    r.add_option("--up", o.up, "Camera up direction x,y,z")->delimiter(',')->expected(3);
    r.add_option("--fov", o.fov, "Vertical field of view, degrees")->check(CLI::Range(0.01f, 179.0f));
    r.add_option("--aperture", o.aperture, "Lens aperture (0 = pinhole)")->check(CLI::NonNegativeNumber);
    r.add_option("--focus-distance", o.focus_distance, "Distance of the plane in focus")->check(CLI::PositiveNumber);
    r.add_option("--camera-index", o.camera_index, "glTF camera to render through (default: a camera framing the scene)")
        ->check(CLI::NonNegativeNumber);
    r.add_option("--gpus", o.gpus, "GPUs to render on, by index (see --list-gpus), e.g. 0,1")->delimiter(',');
    r.add_flag("--list-gpus", o.list_gpus, "List the ray-tracing GPUs and exit");
    r.add_option("--aov", o.aovs, "Extra passes: depth, normal, id (EXR layers, or PNG files beside the output)")
        ->delimiter(',')
        ->check(CLI::IsMember({"depth", "normal", "id"}));
    r.add_option_function<std::string>(
         "--frames",
         [&o](const std::string& s) {
             FrameRange range;
             if (!parse_frames(s, range)) throw CLI::ValidationError("--frames", "expected A-B with 0 <= A <= B");
             o.frames = range;
         },
         "Frames A-B of the scene's camera animation, one image each (%04d in -o takes the number)");
    r.add_option("--save-cache", o.save_cache, "Also write the prepared scene as a .vsb cache");
    r.add_option("--shader-dir", o.shader_dir, "Directory of the shader programs (default: found automatically)");
    r.add_option("--seed", o.seed, "Sampler seed: other seeds give independent images (default 0)");
    r.add_flag("--timings", o.timings, "Print the GPU time of every pass (trace, filter, ...) at the end");
    r.add_flag("-q,--quiet", o.quiet, "No progress output");
    r.add_flag("--ignore-missing-textures", o.ignore_missing_textures,
               "Render with a material's factors where a texture cannot be read, instead of failing");
}

std::string validate_render_options(const RenderOptions& o) {
    if (o.list_gpus) return "";
    if (o.output.empty()) return "no output file: give one with -o FILE.png or -o FILE.exr";
    const size_t dot = o.output.find_last_of('.');
    std::string ext = dot == std::string::npos ? "" : o.output.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".png" && ext != ".exr") return "the output file must end in .png or .exr: " + o.output;
    return "";
}
