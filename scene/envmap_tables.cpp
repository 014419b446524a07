// Environment map sampling tables: a marginal distribution over the rows of
// the latitude-longitude map and, per row, a conditional distribution over its
// texels, weighted by luminance and by the sine of the polar angle.
//
// Each worker handles a contiguous block of rows in one pass: it computes a
// row's weights as running sums in a row-sized buffer, then turns them into
// that row's quantised CDF. Only the row sums and one partial total per worker
// survive the pass; the marginal table is built afterwards on the calling
// thread. Everything that does not depend on how rows are split (conditional
// CDFs, row sums) is bit-identical for any number of workers.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

#include "scene/scene_prep.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kLumR = 0.2126;
constexpr double kLumG = 0.7152;
constexpr double kLumB = 0.0722;
// Every texel that can be read gets at least this weight (before the sine
// factor), so a black map keeps a usable distribution.
constexpr double kWeightFloor = 1e-8;
constexpr int kSrgbCodes = 256;
constexpr double kSrgbMax = 255.0;
constexpr double kSrgbLinearLimit = 0.04045;
constexpr double kSrgbLinearSlope = 12.92;
constexpr double kSrgbOffset = 0.055;
constexpr double kSrgbScale = 1.055;
constexpr double kSrgbGamma = 2.4;
constexpr uint32_t kRgbComponents = 3;

double srgb_to_linear(double c) {
    return c <= kSrgbLinearLimit ? c / kSrgbLinearSlope : std::pow((c + kSrgbOffset) / kSrgbScale, kSrgbGamma);
}

// What the workers read. Texel k of the map starts at component k * channels
// and is readable when k < readable_texels; later texels (a data array
// shorter than the map claims) have weight 0.
struct EnvSource {
    const float* pixelsf = nullptr;
    const uint8_t* pixels8 = nullptr;
    const double* srgb = nullptr;  // kSrgbCodes entries, for 8-bit maps
    uint64_t channels = 0;
    uint64_t readable_texels = 0;
    uint64_t width = 0;
    uint64_t height = 0;
    double intensity = 1.0;
};

// Components a texel needs: r, g, b, or just r (used for all three) when the
// map has fewer than three channels.
uint64_t components_needed(uint64_t channels) { return channels >= kRgbComponents ? kRgbComponents : 1; }

template <bool kFloat>
double component(const EnvSource& src, uint64_t i) {
    if constexpr (kFloat) {
        return static_cast<double>(src.pixelsf[i]);
    } else {
        return src.srgb[src.pixels8[i]];
    }
}

// Running sums of the weights of texels [0, readable) of the row starting at
// texel `first` into prefix[0 .. readable); returns the row sum.
template <bool kFloat, bool kRgb>
double readable_prefix(const EnvSource& src, uint64_t first, uint64_t readable, double sin_theta,
                       double* prefix) {
    double sum = 0.0;
    for (uint64_t x = 0; x < readable; ++x) {
        const uint64_t i = (first + x) * src.channels;
        const double r = component<kFloat>(src, i);
        const double g = kRgb ? component<kFloat>(src, i + 1) : r;
        const double b = kRgb ? component<kFloat>(src, i + 2) : r;
        const double v = src.intensity * (kLumR * r + kLumG * g + kLumB * b);
        // Written so that NaN falls to the floor instead of poisoning the
        // whole map's total.
        sum += (v > kWeightFloor ? v : kWeightFloor) * sin_theta;
        prefix[x] = sum;
    }
    return sum;
}

// Fills prefix[0 .. width) with the running weight sums of row y; returns the
// row sum.
double row_prefix(const EnvSource& src, uint64_t y, double* prefix) {
    const double sin_theta = std::sin((static_cast<double>(y) + 0.5) * kPi / static_cast<double>(src.height));
    const uint64_t first = y * src.width;
    const uint64_t readable =
        first < src.readable_texels ? std::min(src.width, src.readable_texels - first) : uint64_t{0};
    const bool rgb = src.channels >= kRgbComponents;
    double sum = 0.0;
    if (src.pixelsf) {
        sum = rgb ? readable_prefix<true, true>(src, first, readable, sin_theta, prefix)
                  : readable_prefix<true, false>(src, first, readable, sin_theta, prefix);
    } else {
        sum = rgb ? readable_prefix<false, true>(src, first, readable, sin_theta, prefix)
                  : readable_prefix<false, false>(src, first, readable, sin_theta, prefix);
    }
    std::fill(prefix + readable, prefix + src.width, sum);
    return sum;
}

// Rows [begin, end): conditional CDF rows into `cdf`, row sums into
// `row_sums`; returns the sum of the row sums in row order.
double build_rows(const EnvSource& src, uint64_t begin, uint64_t end, double* prefix, uint32_t* cdf,
                  double* row_sums) {
    double partial = 0.0;
    for (uint64_t y = begin; y < end; ++y) {
        const double sum = row_prefix(src, y, prefix);
        const double s = sum > 0.0 ? sum : 1.0;
        uint32_t* row = cdf + y * src.width;
        for (uint64_t x = 0; x < src.width; ++x) row[x] = quantize_cdf(prefix[x] / s);
        row[src.width - 1] = CDF_LAST_ENTRY;
        row_sums[y] = sum;
        partial += sum;
    }
    return partial;
}

}  // namespace

uint32_t quantize_cdf(double fraction) {
    constexpr double kScale = 4294967295.0;
    const double f = fraction > 0.0 ? (fraction < 1.0 ? fraction : 1.0) : 0.0;
    return static_cast<uint32_t>(f * kScale + 0.5);
}

void build_envmap_cdf_with_workers(Scene& scene, unsigned workers) {
    if (scene.envmap_texture < 0 || static_cast<size_t>(scene.envmap_texture) >= scene.textures.size()) return;
    const TextureData& tex = scene.textures[static_cast<size_t>(scene.envmap_texture)];
    if (tex.width < 1 || tex.height < 1) return;
    if (tex.width == scene.env_cdf_width && tex.height == scene.env_cdf_height && !scene.env_marginal_cdf.empty()) {
        return;
    }
    scene.env_cdf_width = tex.width;
    scene.env_cdf_height = tex.height;

    std::vector<double> srgb;
    EnvSource src;
    src.width = static_cast<uint64_t>(tex.width);
    src.height = static_cast<uint64_t>(tex.height);
    src.intensity = static_cast<double>(scene.envmap_intensity);
    uint64_t stored = 0;
    if (tex.is_float) {
        src.pixelsf = tex.pixelsf.data();
        stored = tex.pixelsf.size();
    } else {
        srgb.resize(kSrgbCodes);
        for (int c = 0; c < kSrgbCodes; ++c) srgb[c] = srgb_to_linear(c / kSrgbMax);
        src.srgb = srgb.data();
        src.pixels8 = tex.pixels8.data();
        stored = tex.pixels8.size();
    }
    // A map without a positive channel count has no texel that can be read.
    if (tex.channels >= 1) {
        src.channels = static_cast<uint64_t>(tex.channels);
        const uint64_t need = components_needed(src.channels);
        src.readable_texels = stored >= need ? (stored - need) / src.channels + 1 : 0;
    }
    // Every readable texel weighs at least kWeightFloor * sin(theta) > 0, so
    // the total is positive exactly when one texel can be read. Deciding it
    // here leaves the previous tables untouched when the map is switched off.
    if (src.readable_texels == 0) {
        scene.envmap_texture = -1;
        return;
    }

    // An empty marginal table marks the tables as not built, so a build cut
    // short by an exception is redone by the next call instead of passing
    // for a cache hit.
    scene.env_marginal_cdf.clear();

    const uint64_t threads_wanted = std::max(1u, workers);
    const uint64_t rows_per_thread = (src.height + threads_wanted - 1) / threads_wanted;
    const uint64_t started = (src.height + rows_per_thread - 1) / rows_per_thread;
    std::vector<double> row_sums(src.height);
    std::vector<double> partials(threads_wanted, 0.0);
    std::vector<std::vector<double>> prefixes(started, std::vector<double>(src.width));
    scene.env_conditional_cdf.resize(src.width * src.height);
    uint32_t* cdf = scene.env_conditional_cdf.data();

    std::vector<std::thread> threads;
    threads.reserve(started);
    try {
        for (uint64_t j = 0; j < started; ++j) {
            const uint64_t begin = j * rows_per_thread;
            const uint64_t end = std::min(begin + rows_per_thread, src.height);
            threads.emplace_back([&, j, begin, end] {
                partials[j] = build_rows(src, begin, end, prefixes[j].data(), cdf, row_sums.data());
            });
        }
    } catch (...) {
        for (std::thread& t : threads) t.join();
        throw;
    }
    for (std::thread& t : threads) t.join();

    double total = 0.0;
    for (double p : partials) total += p;
    scene.env_total_weight = static_cast<float>(total);

    scene.env_marginal_cdf.resize(src.height);
    scene.env_row_weights.resize(src.height);
    double running = 0.0;
    for (uint64_t y = 0; y < src.height; ++y) {
        running += row_sums[y];
        scene.env_row_weights[y] = static_cast<float>(row_sums[y]);
        scene.env_marginal_cdf[y] = quantize_cdf(running / total);
    }
    scene.env_marginal_cdf[src.height - 1] = CDF_LAST_ENTRY;
    std::printf("  Envmap CDF: %dx%d, total_weight=%.4f\n", tex.width, tex.height,
                static_cast<double>(scene.env_total_weight));
}

void build_envmap_cdf(Scene& scene) {
    build_envmap_cdf_with_workers(scene, std::thread::hardware_concurrency());
}
