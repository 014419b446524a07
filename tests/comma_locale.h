// Runs a scope under a locale whose decimal separator is a comma, as Qt and
// GTK hosts do with setlocale(LC_ALL, ""). Tests skip when the machine lacks
// the locale (scripts/install-deps.sh generates it).
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <string>

class CommaLocale {
public:
    CommaLocale() {
        const char* old = std::setlocale(LC_ALL, nullptr);
        saved_ = old ? old : "C";
        active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    }
    ~CommaLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;
    bool active() const { return active_; }

private:
    std::string saved_;
    bool active_ = false;
};

#define SKIP_WITHOUT_COMMA_LOCALE(locale)                                              \
    if (!(locale).active())                                                            \
    GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh makes it)"
