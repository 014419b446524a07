// Camera rays: sub-pixel positions by filter importance sampling, the
// packed camera of the scene parameters (pinhole or thin lens) and, with
// two or more keyframes, the camera animated over the shutter.
//
// The including program declares `float scene_params[]` (binding 1).
#ifndef VITREL_CAMERA_GLSL
#define VITREL_CAMERA_GLSL

#include "constants.glsl"
#include "sampling.glsl"

// ---- Filter importance sampling --------------------------------------------
//
// The reconstruction filter is a 4-term Blackman-Harris window FILTER_WIDTH
// pixels wide, separable in x and y. Drawing each sample's offset from the
// filter itself gives every sample weight 1, so the filter pass only adds.
// Its cumulative distribution is analytic; it is inverted by Newton steps
// kept inside a shrinking bracket (the density almost vanishes at the rim,
// where plain Newton would jump out).
#define FILTER_WIDTH 1.5
#define BH_A0 0.35875
#define BH_A1 0.48829
#define BH_A2 0.14128
#define BH_A3 0.01168
#define FILTER_NEWTON_STEPS 8

// Window over t in [-1/2, 1/2], normalised to unit integral, and its CDF.
float bh_density(float t) {
    return (BH_A0 + BH_A1 * cos(TWO_PI * t) + BH_A2 * cos(2.0 * TWO_PI * t) +
            BH_A3 * cos(3.0 * TWO_PI * t)) / BH_A0;
}
float bh_cdf(float t) {
    return (BH_A0 * (t + 0.5) + BH_A1 * sin(TWO_PI * t) / TWO_PI +
            BH_A2 * sin(2.0 * TWO_PI * t) / (2.0 * TWO_PI) +
            BH_A3 * sin(3.0 * TWO_PI * t) / (3.0 * TWO_PI)) / BH_A0;
}

// Offset in pixels from the pixel centre for a uniform u in [0, 1).
float filter_offset(float u) {
    float lo = -0.5;
    float hi = 0.5;
    float t = (u - 0.5) * 0.5;  // the window's central part is nearly linear
    for (int i = 0; i < FILTER_NEWTON_STEPS; ++i) {
        float f = bh_cdf(t) - u;
        if (f > 0.0) hi = t; else lo = t;
        float next = t - f / max(bh_density(t), 1e-6);
        t = (next > lo && next < hi) ? next : 0.5 * (lo + hi);
    }
    return t * FILTER_WIDTH;
}

// ---- Packed camera ----------------------------------------------------------

struct Camera {
    vec3 position;
    vec3 lower_left;  // of the image plane at distance 1
    vec3 horizontal;
    vec3 vertical;
    float lens_radius;
    float focus_distance;
};

vec3 params_vec3(int at) { return vec3(scene_params[at], scene_params[at + 1], scene_params[at + 2]); }

// Keyframes exist when the animation block does and fits the array.
int camera_keyframe_count() {
    int count = int(scene_params[SP_KEYFRAME_COUNT]);
    if (count < 2) return 0;
    // The keyframes end where the guide targets start.
    if (SP_GUIDE_TARGETS_AT(max(int(scene_params[SP_DE_COUNT]), 0), count) > scene_params.length()) return 0;
    return count;
}
int camera_anim_block() {
    return SP_ANIM_BLOCK_AT(max(int(scene_params[SP_DE_COUNT]), 0));
}

// Time of a sample on the keyframe axis: u spreads the samples over the
// shutter, shutter_frames frames of 1 / fps seconds from time 0. A looping
// animation wraps by its duration; otherwise the time stays at the last key.
// Without an animation the time is 0.
float camera_sample_time(float u) {
    if (camera_keyframe_count() == 0) return 0.0;
    int block = camera_anim_block();
    float frame_time = scene_params[block + SP_ANIM_FRAME_TIME];
    float shutter = max(scene_params[SP_SHUTTER_FRAMES], 0.0);
    float t = u * shutter * frame_time;
    float duration = scene_params[block + SP_ANIM_DURATION];
    if (scene_params[block + SP_ANIM_LOOP] > 0.5 && duration > 0.0) t -= duration * floor(t / duration);
    return (isnan(t) || isinf(t)) ? 0.0 : t;
}

// Camera position and look-at point at keyframe time t: piecewise linear
// between the two keyframes around t, held at the first and last keyframe
// outside their range. Linear keeps the path inside the keyed positions
// (no overshoot) and makes motion blur a straight streak.
void camera_keyframes_at(float t, out vec3 position, out vec3 look_at) {
    int count = camera_keyframe_count();
    int first = camera_anim_block() + SP_ANIM_HEADER_FLOATS;
    int k = 0;
    while (k + 1 < count && scene_params[first + SP_KEYFRAME_FLOATS * (k + 1)] <= t) ++k;
    int a = first + SP_KEYFRAME_FLOATS * k;
    int b = first + SP_KEYFRAME_FLOATS * min(k + 1, count - 1);
    float ta = scene_params[a];
    float tb = scene_params[b];
    float w = tb > ta ? clamp((t - ta) / (tb - ta), 0.0, 1.0) : 0.0;
    position = mix(params_vec3(a + 1), params_vec3(b + 1), w);
    look_at = mix(params_vec3(a + 4), params_vec3(b + 4), w);
}

// The camera for a sample at keyframe time t; `aspect` is the render
// image's width over height.
Camera camera_at(float t, float aspect) {
    Camera c;
    c.position = params_vec3(SP_CAMERA_POSITION);
    c.lower_left = params_vec3(SP_LOWER_LEFT);
    c.horizontal = params_vec3(SP_HORIZONTAL);
    c.vertical = params_vec3(SP_VERTICAL);
    c.lens_radius = max(scene_params[SP_CAMERA_APERTURE], 0.0);
    c.focus_distance = scene_params[SP_FOCUS_DISTANCE];
    if (camera_keyframe_count() > 0) {
        // The same construction as scene preparation, from the keyed eye.
        int block = camera_anim_block();
        vec3 look_at;
        camera_keyframes_at(t, c.position, look_at);
        float h = scene_params[block + SP_ANIM_HALF_HEIGHT];
        vec3 up = params_vec3(block + SP_ANIM_CAMERA_UP);
        vec3 w = normalize(c.position - look_at);
        vec3 u = normalize(cross(up, w));
        vec3 v = cross(w, u);
        c.lower_left = c.position - aspect * h * u - h * v - w;
        c.horizontal = 2.0 * aspect * h * u;
        c.vertical = 2.0 * h * v;
    }
    return c;
}

// The ray through image position `film` (pixels from the top-left corner of
// the render image of `size` pixels). `lens` is uniform in [0, 1)^2. With a
// lens, rays through one film point meet again on the plane in focus,
// focus_distance in front of the eye.
void camera_ray(Camera c, vec2 film, vec2 size, vec2 lens, out vec3 origin, out vec3 direction) {
    vec2 s = film / size;
    vec3 target = c.lower_left + s.x * c.horizontal + (1.0 - s.y) * c.vertical;
    vec3 d = target - c.position;  // reaches the plane at distance 1
    origin = c.position;
    direction = d;
    if (c.lens_radius > 0.0 && c.focus_distance > 0.0) {
        vec2 disk = c.lens_radius * sample_disk_concentric(lens);
        vec3 offset = disk.x * normalize(c.horizontal) + disk.y * normalize(c.vertical);
        origin = c.position + offset;
        direction = d * c.focus_distance - offset;
    }
    direction = normalize(direction);
}

#endif
