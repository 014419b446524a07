// The options of `vitrel render`, parsed by CLI11 into plain values.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

struct FrameRange {
    int first = 0;
    int last = 0;
};

struct RenderOptions {
    std::string scene;   // empty: the built-in Cornell box
    std::string output;  // .png or .exr; `%04d` takes the frame number
    int spp = 0;          // 0: not given
    double time_budget = 0.0;  // seconds; 0: not given
    int width = 256;
    int height = 256;
    int quality = 2;
    int bounces = 6;
    bool caustics = false;  // light tracing for caustics
    float exposure = 1.0f;
    std::string grade = "neutral";
    std::string env;
    float env_intensity = 1.0f;
    float env_rotation = 0.0f;
    std::optional<std::vector<float>> camera_pos, look_at, up;
    std::optional<float> fov, aperture, focus_distance;
    int camera_index = -1;
    std::vector<int> gpus;
    bool list_gpus = false;
    std::vector<std::string> aovs;  // "depth", "normal", "id"
    std::optional<FrameRange> frames;
    std::string save_cache;
    std::string shader_dir;
    unsigned seed = 0;    // sampler seed; 0: the default sequence
    bool timings = false;  // print per-pass GPU timings at the end
    bool quiet = false;
    bool ignore_missing_textures = false;
};

// When neither --spp nor --time is given: this many samples per pixel or
// this many seconds of rendering, whichever comes first. With the default
// size and quality the built-in scene then renders cleanly in well under a
// minute on two CPU cores under lavapipe, however busy the machine.
inline constexpr int kDefaultSpp = 64;
inline constexpr double kDefaultTimeBudget = 30.0;

// Registers the options on the `render` subcommand.
void add_render_options(CLI::App& render, RenderOptions& o);

// Checks what CLI11 cannot express (the size and frame syntax were parsed
// already); returns "" or the problem.
std::string validate_render_options(const RenderOptions& o);

// "640x480" -> 640, 480; false for anything else.
bool parse_size(const std::string& text, int& width, int& height);

// "12-40" or "7" -> the inclusive range; false for anything else.
bool parse_frames(const std::string& text, FrameRange& range);
