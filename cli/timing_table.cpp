#include "cli/timing_table.h"

#include "cli/progress.h"

namespace {

constexpr const char* kPassNames[VITREL_PASS_COUNT] = {
    "trace", "filter", "light", "post", "downsample", "quantize", "aov"};
constexpr double kPercent = 100.0;
constexpr size_t kNameWidth = 14;
constexpr size_t kNumberWidth = 13;

std::string pad_right(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string pad_left(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// Numbers through fixed_text, so the table reads the same in every locale
// (scripts parse it).
std::string row(const char* name, double total, double perBatch) {
    return "  " + pad_right(name, kNameWidth) + pad_left(fixed_text(total, 2), kNumberWidth) +
           pad_left(fixed_text(perBatch, 3), kNumberWidth);
}

std::string share(double part, double whole) {
    return pad_left(fixed_text(whole > 0.0 ? kPercent * part / whole : 0.0, 1), kNumberWidth - 4) +
           "%\n";
}

}  // namespace

std::string timing_table(const VitrelPassTimings& t, const std::string& device) {
    if (!t.available) return "GPU timings: not available on " + device + "\n";
    double gpu = 0.0;
    for (double ms : t.gpu_ms) gpu += ms;
    const double batches = t.batches > 0 ? static_cast<double>(t.batches) : 1.0;
    std::string out = "GPU timings on " + device + ", " + std::to_string(t.batches) +
                      (t.batches == 1 ? " batch:\n" : " batches:\n");
    out += "  " + pad_right("pass", kNameWidth) + pad_left("total ms", kNumberWidth) +
           pad_left("ms/batch", kNumberWidth) + pad_left("share", kNumberWidth - 3) + "\n";
    for (int k = 0; k < VITREL_PASS_COUNT; ++k) {
        if (t.dispatches[k] == 0) continue;
        out += row(kPassNames[k], t.gpu_ms[k], t.gpu_ms[k] / batches) + share(t.gpu_ms[k], gpu);
    }
    out += row("GPU total", gpu, gpu / batches) + share(gpu, gpu);
    return out + row("host batches", t.host_batch_ms, t.host_batch_ms / batches) + "\n";
}
