// Environment map sampling tables: a marginal distribution over the rows of
// the latitude-longitude map and, per row, a conditional distribution over its
// texels, weighted by luminance and by the sine of the polar angle.
//
// One pass over the texels: a worker computes a row's weights as running sums
// in a row-sized buffer, then turns them into that row's quantised CDF. Only
// the row sums survive the pass. Workers claim small groups of rows from a
// shared counter, so one worker preempted by another process does not hold
// the others up. The total is nevertheless summed as if each of T workers
// had summed its own block of ceil(h / T) consecutive rows and the block sums
// were added in block order; the marginal table is built afterwards on the
// calling thread. Conditional CDFs and row sums are bit-identical for any
// number of workers; the total depends on it only through that summation
// order.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VITREL_ENV_AVX 1
#include <immintrin.h>
#endif

#include "scene/color_constants.h"
#include "scene/scene_prep.h"

namespace {

constexpr double kPi = 3.141592653589793;
using vitrel_color::kLumB;
using vitrel_color::kLumG;
using vitrel_color::kLumR;
using vitrel_color::kSrgbCodes;
// Every texel that can be read gets at least this weight (before the sine
// factor), so a black map keeps a usable distribution.
constexpr double kWeightFloor = 1e-8;
constexpr uint32_t kRgbComponents = 3;
constexpr double kCdfScale = 4294967295.0;
// Rows a worker claims at a time: small enough to balance, large enough that
// the shared counter is touched rarely.
constexpr uint64_t kRowsPerClaim = 4;

// Per 8-bit code, each channel's term of the luminance (coefficient times
// the decoded value), and their sum for maps that use r for all three. The
// products and sums are the ones the per-texel formula evaluates, so the
// tables change no bit of the result.
struct SrgbLuminance {
    double r[kSrgbCodes];
    double g[kSrgbCodes];
    double b[kSrgbCodes];
    double grey[kSrgbCodes];
};

void fill_srgb_luminance(SrgbLuminance& t) {
    for (int c = 0; c < kSrgbCodes; ++c) {
        const double linear = vitrel_color::srgb_code_to_linear<double>(c);
        t.r[c] = kLumR * linear;
        t.g[c] = kLumG * linear;
        t.b[c] = kLumB * linear;
        t.grey[c] = t.r[c] + t.g[c] + t.b[c];
    }
}

// Writes the quantised CDF of one row: out[x] = quantize_cdf(prefix[x] / s).
using QuantizeRow = void (*)(const double* prefix, double s, uint64_t n, uint32_t* out);

// What the workers read. Texel k of the map starts at component k * channels
// and is readable when k < readable_texels; later texels (a data array
// shorter than the map claims) have weight 0.
struct EnvSource {
    const float* pixelsf = nullptr;
    const uint8_t* pixels8 = nullptr;
    const SrgbLuminance* srgb = nullptr;  // for 8-bit maps
    uint64_t channels = 0;
    uint64_t readable_texels = 0;
    uint64_t width = 0;
    uint64_t height = 0;
    double intensity = 1.0;
    QuantizeRow quantize_row = nullptr;
};

// Components a texel needs: r, g, b, or just r (used for all three) when the
// map has fewer than three channels.
uint64_t components_needed(uint64_t channels) { return channels >= kRgbComponents ? kRgbComponents : 1; }

// 0.2126 r + 0.7152 g + 0.0722 b of the texel starting at component i.
template <bool kFloat, bool kRgb>
double luminance(const EnvSource& src, uint64_t i) {
    if constexpr (kFloat) {
        const double r = src.pixelsf[i];
        const double g = kRgb ? src.pixelsf[i + 1] : r;
        const double b = kRgb ? src.pixelsf[i + 2] : r;
        return kLumR * r + kLumG * g + kLumB * b;
    } else if constexpr (kRgb) {
        const uint8_t* p = src.pixels8 + i;
        return src.srgb->r[p[0]] + src.srgb->g[p[1]] + src.srgb->b[p[2]];
    } else {
        return src.srgb->grey[src.pixels8[i]];
    }
}

// Running sums of the weights of texels [0, readable) of the row starting at
// texel `first` into prefix[0 .. readable); returns the row sum.
template <bool kFloat, bool kRgb>
double readable_prefix(const EnvSource& src, uint64_t first, uint64_t readable, double sin_theta,
                       double* prefix) {
    double sum = 0.0;
    for (uint64_t x = 0; x < readable; ++x) {
        const double v = src.intensity * luminance<kFloat, kRgb>(src, (first + x) * src.channels);
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

// out[x] = quantize_cdf(prefix[x] / s) for x in [0, n), the portable way.
void quantize_row_scalar(const double* prefix, double s, uint64_t n, uint32_t* out) {
    for (uint64_t x = 0; x < n; ++x) out[x] = quantize_cdf(prefix[x] / s);
}

#if VITREL_ENV_AVX
// The same, four texels at a time with the same IEEE operations, on CPUs with
// AVX (chosen at run time; the library itself targets baseline x86-64). The
// conversion to uint32, which AVX offers only for int32, goes through the
// top bit: values of 2^31 and above lose 2^31 exactly before truncation and
// get it back as bit 31.
__attribute__((target("avx"))) void quantize_row_avx(const double* prefix, double s, uint64_t n,
                                                      uint32_t* out) {
    const __m256d vs = _mm256_set1_pd(s);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d scale = _mm256_set1_pd(kCdfScale);
    const __m256d half = _mm256_set1_pd(0.5);
    const __m256d top_value = _mm256_set1_pd(2147483648.0);
    const __m128i top_bit = _mm_set1_epi32(INT32_MIN);
    uint64_t x = 0;
    for (; x + 4 <= n; x += 4) {
        // max(f, 0) gives 0 for NaN, then min(., 1): the clamp of quantize_cdf.
        const __m256d f = _mm256_min_pd(_mm256_max_pd(_mm256_div_pd(_mm256_loadu_pd(prefix + x), vs), zero), one);
        const __m256d v = _mm256_add_pd(_mm256_mul_pd(f, scale), half);
        const __m256d high = _mm256_cmp_pd(v, top_value, _CMP_GE_OQ);
        const __m128i low_bits = _mm256_cvttpd_epi32(_mm256_sub_pd(v, _mm256_and_pd(high, top_value)));
        // Each 64-bit mask lane is all ones or all zeros; keep one 32-bit half of each.
        const __m256 high_ps = _mm256_castpd_ps(high);
        const __m128 high_words = _mm_shuffle_ps(_mm256_castps256_ps128(high_ps), _mm256_extractf128_ps(high_ps, 1),
                                                 _MM_SHUFFLE(2, 0, 2, 0));
        const __m128i word = _mm_or_si128(low_bits, _mm_and_si128(_mm_castps_si128(high_words), top_bit));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), word);
    }
    quantize_row_scalar(prefix + x, s, n - x, out + x);
}
#endif

QuantizeRow pick_quantize_row() {
#if VITREL_ENV_AVX
    if (__builtin_cpu_supports("avx")) return quantize_row_avx;
#endif
    return quantize_row_scalar;
}

// Rows [begin, end): conditional CDF rows into `cdf`, row sums into
// `row_sums`.
void build_rows(const EnvSource& src, uint64_t begin, uint64_t end, double* prefix, uint32_t* cdf,
                double* row_sums) {
    for (uint64_t y = begin; y < end; ++y) {
        const double sum = row_prefix(src, y, prefix);
        const double s = sum > 0.0 ? sum : 1.0;
        uint32_t* row = cdf + y * src.width;
        src.quantize_row(prefix, s, src.width, row);
        row[src.width - 1] = CDF_LAST_ENTRY;
        row_sums[y] = sum;
    }
}

}  // namespace

uint32_t quantize_cdf(double fraction) {
    const double f = fraction > 0.0 ? (fraction < 1.0 ? fraction : 1.0) : 0.0;
    return static_cast<uint32_t>(f * kCdfScale + 0.5);
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

    SrgbLuminance srgb;
    EnvSource src;
    src.width = static_cast<uint64_t>(tex.width);
    src.height = static_cast<uint64_t>(tex.height);
    src.intensity = static_cast<double>(scene.envmap_intensity);
    src.quantize_row = pick_quantize_row();
    uint64_t stored = 0;
    if (tex.is_float) {
        src.pixelsf = tex.pixelsf.data();
        stored = tex.pixelsf.size();
    } else {
        fill_srgb_luminance(srgb);
        src.srgb = &srgb;
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
    const uint64_t rows_per_block = (src.height + threads_wanted - 1) / threads_wanted;
    const uint64_t started = (src.height + rows_per_block - 1) / rows_per_block;
    std::vector<double> row_sums(src.height);
    std::vector<std::vector<double>> prefixes(started, std::vector<double>(src.width));
    scene.env_conditional_cdf.resize(src.width * src.height);
    uint32_t* cdf = scene.env_conditional_cdf.data();

    std::atomic<uint64_t> next_row{0};
    const auto work = [&](uint64_t j) {
        for (;;) {
            const uint64_t begin = next_row.fetch_add(kRowsPerClaim, std::memory_order_relaxed);
            if (begin >= src.height) return;
            build_rows(src, begin, std::min(begin + kRowsPerClaim, src.height), prefixes[j].data(), cdf,
                       row_sums.data());
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(started);
    try {
        for (uint64_t j = 0; j < started; ++j) threads.emplace_back(work, j);
    } catch (...) {
        for (std::thread& t : threads) t.join();
        throw;
    }
    for (std::thread& t : threads) t.join();

    double total = 0.0;
    for (uint64_t begin = 0; begin < src.height; begin += rows_per_block) {
        double block = 0.0;
        for (uint64_t y = begin; y < std::min(begin + rows_per_block, src.height); ++y) block += row_sums[y];
        total += block;
    }
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
