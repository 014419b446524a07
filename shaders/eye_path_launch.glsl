// The eye-path launch shared by the ray-tracing program (eye_path.rgen) and
// its compute form (eye_path.comp): which samples an invocation runs, the
// path loop over them, and where their results go. Include after
// path_loop.glsl.
#ifndef VITREL_EYE_PATH_LAUNCH_GLSL
#define VITREL_EYE_PATH_LAUNCH_GLSL

// The sample of layer `layer` into its scratch slot: the radiance with
// a = 1, or zero with a = 0 when it is not finite.
void write_sample(uvec3 id, uint layer, vec3 radiance) {
    uint slot = SAMPLE_SLOT(id.x, id.y, layer, pc.tile_width, pc.tile_height);
    if (slot >= uint(tile_samples.length())) return;
    bool finite = !any(isnan(radiance)) && !any(isinf(radiance));
    tile_samples[slot] = finite ? vec4(radiance, 1.0) : vec4(0.0);
}

// Invocation `id` of a launch `depth` sample layers deep.
void run_eye_paths(uvec3 id, uint depth) {
    if (id.x >= pc.tile_width || id.y >= pc.tile_height) return;
    uvec2 layers = launch_sample_layers(id.z, depth, pc.sample_count);
    if (layers.x >= layers.y) return;
    uvec2 pixel = uvec2(pc.origin_x, pc.origin_y) + id.xy;
    vec2 size = vec2(pc.width, pc.height);
    if (pc.extra_param == TRACE_EXTRA_PRIMARY_ONLY) {
        for (uint layer = layers.x; layer < layers.y; ++layer)
            write_sample(id, layer, vec3(trace_primary_only(pixel, pc.first_sample + layer, size), 0.0, 0.0));
        return;
    }
    // A path that ends hands its lane to the next sample at once, so the
    // lanes of a SIMD group stay busy while their paths' lengths differ.
    uint layer = layers.x;
    EyePath path = eye_path_start(pixel, pc.first_sample + layer, size, pc.trace_param);
    for (;;) {
        if (eye_path_step(path)) continue;
        vec3 radiance = pc.extra_param == TRACE_EXTRA_RAY_COUNT ? vec3(float(path_rays), 0.0, 0.0) : path.radiance;
        write_sample(id, layer, radiance);
        if (++layer >= layers.y) break;
        path = eye_path_start(pixel, pc.first_sample + layer, size, pc.trace_param);
    }
}

#endif
