// Writing the context's scene to a scene cache file.
#include <mutex>

#include "api/call_guard.h"
#include "api/vitrel_api.h"
#include "api/vitrel_context.h"
#include "cache/vsb_format.h"

extern "C" int vitrel_save_scene(VitrelContext* ctx, const char* path) noexcept {
    if (!ctx || !path) return -1;
    return guarded_call(-1, [&] {
        std::lock_guard<std::mutex> lock(ctx->mutex);
        return save_vsb(path, ctx->scene) ? 0 : -1;
    });
}
