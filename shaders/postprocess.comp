#version 460
// Render-resolution read-out: mean radiance of the eye and light
// accumulations, times exposure. Linear output stops there; display output
// then grades, applies the tone curve and encodes sRGB. Writes the working
// image (binding 8).
//
// Grading (grade[0..4]): gain multiplies; contrast is a power curve about
// middle grey (MIDDLE_GREY stays fixed, > 1 spreads values away from it);
// saturation scales the distance from Rec. 709 luminance; lift raises the
// blacks (x + lift * (1 - x), so display white stays); gamma brightens
// mid-tones above 1 (x^(1 / gamma)).
#extension GL_GOOGLE_include_directive : require

#include "gpu_layout.h"
#include "push_block.glsl"
#include "framebuffers.glsl"

layout(local_size_x = 64) in;

#define MIDDLE_GREY 0.18
#define MIN_GAMMA 1e-4
#define MIN_CONTRAST 1e-4
const vec3 REC709_LUMA = vec3(0.2126, 0.7152, 0.0722);

vec3 mean_radiance(uint pixel) {
    const vec4 eye = eye_accum[pixel];
    vec3 mean = eye.a > 0.0 ? eye.rgb / eye.a : vec3(0.0);
    if (pc.sample_end > 0u)
        mean += vec3(light_accum[pixel].rgb) * float(LIGHT_ACCUM_SCALE) / float(pc.sample_end);
    return mean;
}

vec3 grade(vec3 x) {
    x *= pc.grade[0];
    x = MIDDLE_GREY * pow(max(x, vec3(0.0)) / MIDDLE_GREY, vec3(max(pc.grade[1], MIN_CONTRAST)));
    const float luma = dot(x, REC709_LUMA);
    x = max(vec3(luma) + (x - vec3(luma)) * pc.grade[2], vec3(0.0));
    x += pc.grade[3] * (vec3(1.0) - x);
    return pow(max(x, vec3(0.0)), vec3(1.0 / max(pc.grade[4], MIN_GAMMA)));
}

vec3 filmic(vec3 x) {
    const float toe = max(pc.post_param0, 0.0) * FILMIC_TOE_SCALE;
    const float white = max(pc.post_param1, 1e-3);
    x = x * x / (x + vec3(toe) + 1e-30);
    return x * (vec3(1.0) + x / (white * white)) / (vec3(1.0) + x);
}

vec3 tone_curve(vec3 x) {
    // POST_MODE_FILMIC is also the fallback for modes this program lacks.
    return filmic(x);
}

vec3 srgb_encode(vec3 x) {
    x = clamp(x, 0.0, 1.0);
    return mix(x * 12.92, 1.055 * pow(x, vec3(1.0 / 2.4)) - 0.055, greaterThan(x, vec3(0.0031308)));
}

void main() {
    const uint pixel = gl_GlobalInvocationID.x;
    if (pixel >= pc.width * pc.height) return;
    vec3 c = mean_radiance(pixel) * pc.exposure;
    if (pc.display_output != 0u) c = srgb_encode(tone_curve(grade(c)));
    work_image[pixel] = vec4(c, 1.0);
}
