// Colour conventions shared by scene preparation: Rec. 709 luminance weights
// and the 8-bit sRGB decoding. The sRGB table handed to the GPU programs is
// computed in single precision and the environment weights in double
// precision, so the decoding is written once for either type.
#pragma once

#include <cmath>

namespace vitrel_color {

inline constexpr double kLumR = 0.2126;
inline constexpr double kLumG = 0.7152;
inline constexpr double kLumB = 0.0722;
inline constexpr int kSrgbCodes = 256;

// Linear value of an 8-bit sRGB code, evaluated in T: c = code / 255, then
// c / 12.92 up to 0.04045 and ((c + 0.055) / 1.055)^2.4 above.
template <class T>
T srgb_code_to_linear(int code) {
    const T c = static_cast<T>(code) / static_cast<T>(255);
    return c <= static_cast<T>(0.04045) ? c / static_cast<T>(12.92)
                                        : std::pow((c + static_cast<T>(0.055)) / static_cast<T>(1.055),
                                                   static_cast<T>(2.4));
}

}  // namespace vitrel_color
