// Render progress on standard error: a bar redrawn in place on a terminal,
// one plain line per batch otherwise, nothing when quiet.
#pragma once

#include <string>

// `value` with `decimals` digits after a point, whatever the host's
// LC_NUMERIC: a host that set a comma locale still gets "1.5", not "1,5".
std::string fixed_text(double value, int decimals);

class Progress {
public:
    enum class Mode { Bar, Lines, Quiet };

    // `target_spp` 0 means none (a time budget only); `budget_s` 0 none.
    Progress(Mode mode, std::string label, int target_spp, double budget_s);

    // After each batch: the total samples so far and the seconds spent.
    void update(int samples, double elapsed_s);
    // Ends the bar's line.
    void finish();

    // The mode for standard error: Bar on a terminal, else Lines.
    static Mode detect(bool quiet);

private:
    // Fraction done and seconds left, from whichever limit ends first.
    double fraction(int samples, double elapsed_s) const;

    Mode mode_;
    std::string label_;
    int target_spp_;
    double budget_s_;
    bool drawn_ = false;
};
