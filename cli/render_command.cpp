#include "cli/render_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "api/vitrel_api.h"
#include "cli/env_import.h"
#include "cli/framing.h"
#include "cli/image_output.h"
#include "cli/progress.h"
#include "cli/scene_import.h"
#include "cli/timing_table.h"

namespace {

constexpr int kGpuNameBytes = 256;
constexpr int kMaxGpus = 16;
constexpr int kMaxSamplesPerBatch = 8;
// Under a time budget batches stay small, so that the last one ends close to
// the budget even on a slow or busy device.
constexpr int kTimedSamplesPerBatch = 2;
// Where an installed program finds the GLSL sources, relative to itself.
constexpr const char* kInstalledGlslDir = "/../share/vitrel/glsl";

using Clock = std::chrono::steady_clock;

struct ContextDeleter {
    void operator()(VitrelContext* ctx) const { vitrel_destroy(ctx); }
};
using ContextPtr = std::unique_ptr<VitrelContext, ContextDeleter>;

// A failure the program reports and exits on; the text is the whole line.
struct RenderError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::vector<std::string> gpu_names() {
    std::vector<char> buf(static_cast<size_t>(kGpuNameBytes) * kMaxGpus, '\0');
    const int n = vitrel_enumerate_gpus(buf.data(), kGpuNameBytes, kMaxGpus);
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) names.emplace_back(&buf[static_cast<size_t>(i) * kGpuNameBytes]);
    return names;
}

bool is_directory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The GLSL sources for compiling the scene's own material code: those
// installed beside the program, else the source tree it was built from.
std::string glsl_source_dir() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        std::string dir(exe);
        dir = dir.substr(0, dir.find_last_of('/')) + kInstalledGlslDir;
        if (is_directory(dir)) return dir;
    }
    return is_directory(VITREL_SOURCE_SHADER_DIR) ? VITREL_SOURCE_SHADER_DIR : "";
}

// The largest batch size up to `most` that divides `spp`, so that the image
// gets exactly the samples asked for.
int samples_per_batch(int spp, int most) {
    for (int n = std::min(spp, most); n > 1; --n) {
        if (spp % n == 0) return n;
    }
    return 1;
}

bool has_suffix(const std::string& s, const char* suffix) {
    std::string lower = s;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string suf(suffix);
    return lower.size() >= suf.size() && lower.compare(lower.size() - suf.size(), suf.size(), suf) == 0;
}

// Camera position and target at time t, interpolated linearly between the
// keyframes (clamped at the ends, wrapped when looping).
void camera_at(const CameraAnimation& anim, float t, float pos[3], float at[3]) {
    const std::vector<Keyframe>& k = anim.keyframes;
    if (anim.loop && anim.duration > 0.0f) t = std::fmod(std::fmod(t, anim.duration) + anim.duration, anim.duration);
    size_t i = 0;
    while (i + 1 < k.size() && k[i + 1].time <= t) ++i;
    const Keyframe& a = k[i];
    const Keyframe& b = k[std::min(i + 1, k.size() - 1)];
    const float span = b.time - a.time;
    const float w = span > 0.0f ? std::clamp((t - a.time) / span, 0.0f, 1.0f) : 0.0f;
    for (int c = 0; c < 3; ++c) {
        pos[c] = a.position[c] + w * (b.position[c] - a.position[c]);
        at[c] = a.look_at[c] + w * (b.look_at[c] - a.look_at[c]);
    }
}

// The image of side passes for a PNG output: "<stem>.<pass>.png".
std::string side_path(const std::string& output, const std::string& pass) {
    const size_t dot = output.find_last_of('.');
    return output.substr(0, dot) + "." + pass + output.substr(dot);
}

std::vector<uint8_t> depth_to_rgba(const float* depth, size_t n) {
    float lo = INFINITY, hi = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        if (depth[i] > 0.0f && std::isfinite(depth[i])) {
            lo = std::min(lo, depth[i]);
            hi = std::max(hi, depth[i]);
        }
    }
    std::vector<uint8_t> out(n * 4, 255);
    for (size_t i = 0; i < n; ++i) {
        const bool hit = depth[i] > 0.0f && std::isfinite(depth[i]);
        const float v = !hit ? 0.0f : hi > lo ? 1.0f - (depth[i] - lo) / (hi - lo) : 1.0f;
        out[i * 4] = out[i * 4 + 1] = out[i * 4 + 2] = static_cast<uint8_t>(std::lround(v * 255.0f));
    }
    return out;
}

std::vector<uint8_t> normal_to_rgba(const float* normal, size_t n) {
    std::vector<uint8_t> out(n * 4, 255);
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            const float v = std::clamp(normal[i * 3 + k] * 0.5f + 0.5f, 0.0f, 1.0f);
            out[i * 4 + k] = static_cast<uint8_t>(std::lround(v * 255.0f));
        }
    return out;
}

std::vector<uint8_t> ids_to_rgba(const int32_t* ids, size_t n) {
    std::vector<uint8_t> out(n * 4, 255);
    for (size_t i = 0; i < n; ++i) {
        uint32_t h = ids[i] < 0 ? 0u : static_cast<uint32_t>(ids[i]) * 2654435761u + 0x9E3779B9u;
        for (int k = 0; k < 3; ++k) {
            out[i * 4 + k] = ids[i] < 0 ? 0 : static_cast<uint8_t>(64 + (h & 0xBF));
            h >>= 8;
        }
    }
    return out;
}

class Renderer {
public:
    Renderer(const RenderOptions& o) : o_(o), ctx_(vitrel_create()) {
        if (!ctx_) throw RenderError("vitrel: out of memory");
    }

    int run() {
        setup_scene();
        apply_settings();
        prepare();
        if (!o_.save_cache.empty()) save_cache();
        if (o_.frames) {
            const CameraAnimation& anim = report_.animation;
            if (anim.keyframes.size() < 2) {
                throw RenderError("vitrel: --frames needs a scene with a camera animation (two or more keyframes); " +
                                  scene_name() + " has " + std::to_string(anim.keyframes.size()));
            }
            for (int f = o_.frames->first; f <= o_.frames->last; ++f) {
                set_frame(f);
                render_one(frame_path(o_.output, f), "frame " + std::to_string(f) + ": ");
            }
        } else {
            render_one(o_.output, "");
        }
        if (o_.timings) print_timings();
        return kExitOk;
    }

private:
    std::string scene_name() const { return o_.scene.empty() ? kBuiltinSceneName : o_.scene; }

    void setup_scene() {
        VitrelContext* ctx = ctx_.get();
        if (!o_.shader_dir.empty()) {
            if (!is_directory(o_.shader_dir)) throw RenderError("vitrel: " + o_.shader_dir + ": not a directory");
            vitrel_set_shader_paths(ctx, o_.shader_dir.c_str(), nullptr);
        }
        try {
            SceneImportOptions io;
            io.camera_index = o_.camera_index;
            io.missing_textures_fatal = !o_.ignore_missing_textures;
            if (o_.scene.empty()) import_builtin_scene(ctx, report_);
            else import_scene_file(ctx, o_.scene, io, report_);
            for (const std::string& line : report_lines(report_, scene_name())) std::fprintf(stderr, "%s\n", line.c_str());
            if (!o_.env.empty()) apply_env_file(ctx, o_.env, o_.env_intensity, o_.env_rotation);
        } catch (const ImportError& e) {
            throw RenderError(std::string("vitrel: ") + e.what());
        }
        // The precompiled programs evaluate materials from their parameters;
        // expression graphs (texture transforms, textures times factors)
        // need the scene's generated code, compiled at preparation.
        if (report_.uses_expression_graphs) {
            const std::string glsl = glsl_source_dir();
            if (glsl.empty()) {
                std::fprintf(stderr, "warning: GLSL sources not found; textures are used without their factors and transforms\n");
            } else {
                vitrel_set_shader_paths(ctx, nullptr, glsl.c_str());
            }
        }
        const float aspect = static_cast<float>(o_.width) / static_cast<float>(o_.height);
        camera_ = report_.has_camera ? report_.camera : framing_camera(report_, CameraPose{}.fov, aspect);
        if (o_.camera_pos) std::copy(o_.camera_pos->begin(), o_.camera_pos->end(), camera_.position);
        if (o_.look_at) std::copy(o_.look_at->begin(), o_.look_at->end(), camera_.look_at);
        if (o_.up) std::copy(o_.up->begin(), o_.up->end(), camera_.up);
        if (o_.fov) camera_.fov = *o_.fov;
        if (o_.aperture) camera_.aperture = *o_.aperture;
        if (o_.focus_distance) camera_.focus_distance = *o_.focus_distance;
        vitrel_set_camera(ctx, camera_.position, camera_.look_at, camera_.up, camera_.fov, camera_.aperture,
                          camera_.focus_distance);
    }

    void apply_settings() {
        VitrelContext* ctx = ctx_.get();
        const bool defaults = o_.spp == 0 && o_.time_budget <= 0.0;
        target_spp_ = defaults ? kDefaultSpp : o_.spp;
        time_budget_ = defaults ? kDefaultTimeBudget : o_.time_budget;
        const int most = time_budget_ > 0.0 ? kTimedSamplesPerBatch : kMaxSamplesPerBatch;
        const int batch = target_spp_ > 0 ? samples_per_batch(target_spp_, most) : most;
        vitrel_set_output_size(ctx, o_.width, o_.height);
        vitrel_set_quality(ctx, o_.quality);
        vitrel_set_render_params(ctx, batch, o_.bounces | (o_.caustics ? VITREL_TRACE_LIGHT_TRACING : 0), o_.exposure);
        vitrel_set_grade(ctx, o_.grade.c_str());
        vitrel_set_seed(ctx, o_.seed);
        vitrel_set_gpu_timing(ctx, o_.timings ? 1 : 0);
        const std::vector<std::string> names = gpu_names();
        if (names.empty()) throw RenderError("vitrel: no Vulkan GPU with ray tracing found (see --list-gpus)");
        std::vector<int> gpus = o_.gpus.empty() ? std::vector<int>{0} : o_.gpus;
        for (int g : gpus) {
            if (g < 0 || static_cast<size_t>(g) >= names.size()) {
                throw RenderError("vitrel: --gpus: there is no GPU " + std::to_string(g) + " (" +
                                  std::to_string(names.size()) + " found; see --list-gpus)");
            }
            devices_ += (devices_.empty() ? "" : ", ") + names[static_cast<size_t>(g)];
            device_names_.push_back(names[static_cast<size_t>(g)]);
        }
        vitrel_set_gpu_mask(ctx, gpus.data(), static_cast<int>(gpus.size()));
    }

    void prepare() {
        const int rc = vitrel_prepare(ctx_.get());
        if (rc == 0) return;
        if (rc == -1) throw RenderError("vitrel: " + scene_name() + ": the scene is empty");
        throw RenderError(std::string("vitrel: cannot prepare the GPU: ") + vitrel_get_last_error(ctx_.get()));
    }

    // Every image's batches and read-outs, one table per GPU; standard error
    // like the rest of the report, so --quiet keeps it.
    void print_timings() {
        for (size_t i = 0; i < device_names_.size(); ++i) {
            VitrelPassTimings t;
            if (vitrel_get_gpu_timings(ctx_.get(), static_cast<int>(i), &t) != 0) continue;
            const std::string label = "GPU " + std::to_string(i) + " (" + device_names_[i] + ")";
            std::fputs(timing_table(t, label).c_str(), stderr);
        }
    }

    void save_cache() {
        if (vitrel_save_scene(ctx_.get(), o_.save_cache.c_str()) != 0) {
            throw RenderError("vitrel: cannot write the scene cache " + o_.save_cache + " (reason above)");
        }
    }

    // Frame f: the keyframes are shifted by -f / fps so that the shaders'
    // sample time 0 falls on the frame, and the camera update re-packs them.
    void set_frame(int f) {
        VitrelContext* ctx = ctx_.get();
        const CameraAnimation& anim = report_.animation;
        const float t = static_cast<float>(f) / (anim.fps > 0.0f ? anim.fps : 30.0f);
        vitrel_clear_animation(ctx);
        vitrel_set_animation(ctx, anim.loop ? 1 : 0, anim.duration, anim.fps);
        for (const Keyframe& k : anim.keyframes) vitrel_add_keyframe(ctx, k.position, k.look_at, k.time - t);
        float pos[3], at[3];
        camera_at(anim, t, pos, at);
        if (vitrel_update_camera(ctx, pos, at, camera_.up, o_.width, o_.height, camera_.fov, camera_.aperture,
                                 camera_.focus_distance) != 0) {
            throw RenderError(std::string("vitrel: cannot move the camera to frame ") + std::to_string(f) + ": " +
                              vitrel_get_last_error(ctx));
        }
    }

    void render_one(const std::string& path, const std::string& label) {
        VitrelContext* ctx = ctx_.get();
        vitrel_reset_accumulation(ctx);
        Progress progress(Progress::detect(o_.quiet), label, target_spp_, time_budget_);
        const Clock::time_point start = Clock::now();
        double elapsed = 0.0, last_batch = 0.0;
        int total = 0;
        for (;;) {
            const Clock::time_point batch_start = Clock::now();
            total = vitrel_render_batch(ctx);
            if (total < 0) {
                progress.finish();
                throw RenderError(std::string("vitrel: rendering failed: ") + vitrel_get_last_error(ctx));
            }
            const Clock::time_point now = Clock::now();
            elapsed = std::chrono::duration<double>(now - start).count();
            last_batch = std::chrono::duration<double>(now - batch_start).count();
            progress.update(total, elapsed);
            if (target_spp_ > 0 && total >= target_spp_) break;
            // Stop before a batch that would overrun the budget.
            if (time_budget_ > 0.0 && elapsed + last_batch > time_budget_) break;
        }
        progress.finish();
        write_outputs(path, total, elapsed);
    }

    ImageMetadata metadata(int samples, double seconds) const {
        return {{"Software", std::string("Vitrel ") + VITREL_VERSION},
                {"vitrel:scene", scene_name()},
                {"vitrel:samples", std::to_string(samples)},
                {"vitrel:time_seconds", fixed_text(seconds, 3)},
                {"vitrel:device", devices_}};
    }

    void write_outputs(const std::string& path, int samples, double seconds) {
        VitrelContext* ctx = ctx_.get();
        const ImageMetadata meta = metadata(samples, seconds);
        const bool want_depth = std::count(o_.aovs.begin(), o_.aovs.end(), "depth") > 0;
        const bool want_normal = std::count(o_.aovs.begin(), o_.aovs.end(), "normal") > 0;
        const bool want_id = std::count(o_.aovs.begin(), o_.aovs.end(), "id") > 0;
        AovPlanes aovs;
        if (!o_.aovs.empty()) {
            if (vitrel_compute_aovs(ctx) != 0) throw RenderError("vitrel: computing the passes failed");
            if (want_depth) aovs.depth = vitrel_get_aov_depth(ctx, nullptr, nullptr);
            if (want_normal) aovs.normal = vitrel_get_aov_normal(ctx, nullptr, nullptr);
            if (want_id) aovs.object_id = vitrel_get_aov_object_id(ctx, nullptr, nullptr);
        }
        int w = 0, h = 0;
        try {
            if (has_suffix(path, ".exr")) {
                const float* px = vitrel_get_pixels_linear(ctx, &w, &h);
                if (!px) throw RenderError(std::string("vitrel: reading the image failed: ") + vitrel_get_last_error(ctx));
                write_exr(path, px, w, h, aovs, meta);
            } else {
                const uint8_t* px = vitrel_get_pixels_uint8(ctx, &w, &h);
                if (!px) throw RenderError(std::string("vitrel: reading the image failed: ") + vitrel_get_last_error(ctx));
                write_png(path, px, w, h, meta);
                const size_t n = static_cast<size_t>(w) * h;
                if (aovs.depth) write_png(side_path(path, "depth"), depth_to_rgba(aovs.depth, n).data(), w, h, meta);
                if (aovs.normal) write_png(side_path(path, "normal"), normal_to_rgba(aovs.normal, n).data(), w, h, meta);
                if (aovs.object_id) write_png(side_path(path, "id"), ids_to_rgba(aovs.object_id, n).data(), w, h, meta);
            }
        } catch (const OutputError& e) {
            throw RenderError(std::string("vitrel: ") + e.what());
        }
        if (!o_.quiet) {
            std::fprintf(stderr, "wrote %s (%dx%d, %d spp, %s s on %s)\n", path.c_str(), w, h, samples,
                         fixed_text(seconds, 1).c_str(), devices_.c_str());
        }
    }

    const RenderOptions& o_;
    ContextPtr ctx_;
    ImportReport report_;
    CameraPose camera_;
    int target_spp_ = 0;        // 0: none
    double time_budget_ = 0.0;  // seconds of rendering per image; 0: none
    std::string devices_;
    std::vector<std::string> device_names_;  // per selected GPU
};

}  // namespace

int list_gpus() {
    const std::vector<std::string> names = gpu_names();
    if (names.empty()) {
        std::fprintf(stderr, "vitrel: no Vulkan GPU with ray tracing found\n");
        return kExitFailure;
    }
    for (size_t i = 0; i < names.size(); ++i) std::printf("%zu: %s\n", i, names[i].c_str());
    return kExitOk;
}

int run_render(const RenderOptions& options) {
    if (options.list_gpus) return list_gpus();
    if (options.quiet) {
        // The library reports its progress on standard output; quiet means
        // errors only, and those go to standard error.
        const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null_fd >= 0) {
            dup2(null_fd, STDOUT_FILENO);
            close(null_fd);
        }
    }
    try {
        Renderer r(options);
        return r.run();
    } catch (const RenderError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return kExitFailure;
    }
}
