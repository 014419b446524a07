#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {
constexpr int kBarWidth = 30;
}

Progress::Progress(Mode mode, std::string label, int target_spp, double budget_s)
    : mode_(mode), label_(std::move(label)), target_spp_(target_spp), budget_s_(budget_s) {}

Progress::Mode Progress::detect(bool quiet) {
    if (quiet) return Mode::Quiet;
    return isatty(STDERR_FILENO) ? Mode::Bar : Mode::Lines;
}

double Progress::fraction(int samples, double elapsed_s) const {
    double f = 0.0;
    if (target_spp_ > 0) f = std::max(f, static_cast<double>(samples) / target_spp_);
    if (budget_s_ > 0.0) f = std::max(f, elapsed_s / budget_s_);
    return std::min(f, 1.0);
}

void Progress::update(int samples, double elapsed_s) {
    if (mode_ == Mode::Quiet) return;
    const double rate = elapsed_s > 0.0 ? samples / elapsed_s : 0.0;
    const double f = fraction(samples, elapsed_s);
    const double eta = f > 0.0 ? elapsed_s * (1.0 - f) / f : 0.0;
    char spp[32];
    if (target_spp_ > 0) std::snprintf(spp, sizeof spp, "%d/%d spp", samples, target_spp_);
    else std::snprintf(spp, sizeof spp, "%d spp", samples);
    if (mode_ == Mode::Lines) {
        std::fprintf(stderr, "%s%s, %.1f spp/s, %.1f s, ETA %.0f s\n", label_.c_str(), spp, rate, elapsed_s, eta);
        return;
    }
    char bar[kBarWidth + 1];
    const int filled = static_cast<int>(f * kBarWidth + 0.5);
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    const int eta_s = static_cast<int>(eta + 0.5);
    std::fprintf(stderr, "\r\033[K%s[%s] %s  %.1f spp/s  ETA %d:%02d", label_.c_str(), bar, spp, rate, eta_s / 60,
                 eta_s % 60);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::finish() {
    if (mode_ == Mode::Bar && drawn_) std::fputc('\n', stderr);
    drawn_ = false;
}
