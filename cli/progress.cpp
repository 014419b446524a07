#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace {
constexpr int kBarWidth = 30;
}

std::string fixed_text(double value, int decimals) {
    char text[64];
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    // Only a value beyond any render's range overflows the buffer.
    if (r.ec != std::errc()) return "inf";
    return std::string(text, r.ptr);
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
        std::fprintf(stderr, "%s%s, %s spp/s, %s s, ETA %s s\n", label_.c_str(), spp, fixed_text(rate, 1).c_str(),
                     fixed_text(elapsed_s, 1).c_str(), fixed_text(eta, 0).c_str());
        return;
    }
    char bar[kBarWidth + 1];
    const int filled = static_cast<int>(f * kBarWidth + 0.5);
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    const int eta_s = static_cast<int>(eta + 0.5);
    std::fprintf(stderr, "\r\033[K%s[%s] %s  %s spp/s  ETA %d:%02d", label_.c_str(), bar, spp,
                 fixed_text(rate, 1).c_str(), eta_s / 60, eta_s % 60);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::finish() {
    if (mode_ == Mode::Bar && drawn_) std::fputc('\n', stderr);
    drawn_ = false;
}
