// GPU selection, preparation, batches and read-out. Placeholders until the
// orchestration lands: every call reports "not prepared".
#include "api/vitrel_api.h"

extern "C" {

VITREL_EXPORT int vitrel_enumerate_gpus(char*, int, int) { return 0; }
VITREL_EXPORT void vitrel_set_gpu_mask(VitrelContext*, const int*, int) {}
VITREL_EXPORT int vitrel_prepare(VitrelContext*) { return -1; }
VITREL_EXPORT int vitrel_render_batch(VitrelContext*) { return -1; }
VITREL_EXPORT void vitrel_reset_accumulation(VitrelContext*) {}
VITREL_EXPORT int vitrel_update_camera(VitrelContext*, const float*, const float*, const float*,
                                       int, int, float, float, float) {
    return -1;
}
VITREL_EXPORT int vitrel_rebuild_tlas(VitrelContext*) { return -1; }
VITREL_EXPORT const float* vitrel_get_pixels(VitrelContext*, int*, int*) { return nullptr; }
VITREL_EXPORT const float* vitrel_get_pixels_linear(VitrelContext*, int*, int*) {
    return nullptr;
}
VITREL_EXPORT const unsigned char* vitrel_get_pixels_uint8(VitrelContext*, int*, int*) {
    return nullptr;
}
VITREL_EXPORT int vitrel_compute_aovs(VitrelContext*) { return -1; }
VITREL_EXPORT const float* vitrel_get_aov_depth(VitrelContext*, int*, int*) { return nullptr; }
VITREL_EXPORT const float* vitrel_get_aov_normal(VitrelContext*, int*, int*) { return nullptr; }
VITREL_EXPORT const int* vitrel_get_aov_object_id(VitrelContext*, int*, int*) {
    return nullptr;
}

}  // extern "C"
