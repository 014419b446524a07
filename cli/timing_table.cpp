#include "cli/timing_table.h"

#include <cstdio>

namespace {

constexpr const char* kPassNames[VITREL_PASS_COUNT] = {
    "trace", "filter", "light", "post", "downsample", "quantize", "aov"};
constexpr double kPercent = 100.0;

std::string row(const char* name, double total, double perBatch, double share) {
    char line[128];
    std::snprintf(line, sizeof line, "  %-14s %12.2f %12.3f %7.1f%%\n", name, total, perBatch, share);
    return line;
}

}  // namespace

std::string timing_table(const VitrelPassTimings& t, const std::string& device) {
    if (!t.available) return "GPU timings: not available on " + device + "\n";
    double gpu = 0.0;
    for (double ms : t.gpu_ms) gpu += ms;
    const double batches = t.batches > 0 ? static_cast<double>(t.batches) : 1.0;
    char head[256];
    std::snprintf(head, sizeof head, "GPU timings on %s, %d batch%s:\n  %-14s %12s %12s %8s\n",
                  device.c_str(), t.batches, t.batches == 1 ? "" : "es", "pass", "total ms",
                  "ms/batch", "share");
    std::string out = head;
    for (int k = 0; k < VITREL_PASS_COUNT; ++k) {
        if (t.dispatches[k] == 0) continue;
        out += row(kPassNames[k], t.gpu_ms[k], t.gpu_ms[k] / batches,
                   gpu > 0.0 ? kPercent * t.gpu_ms[k] / gpu : 0.0);
    }
    out += row("GPU total", gpu, gpu / batches, gpu > 0.0 ? kPercent : 0.0);
    char host[128];
    std::snprintf(host, sizeof host, "  %-14s %12.2f %12.3f\n", "host batches", t.host_batch_ms,
                  t.host_batch_ms / batches);
    return out + host;
}
