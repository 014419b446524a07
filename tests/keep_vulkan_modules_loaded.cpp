// Keeps the Vulkan driver and the validation layer mapped until the test
// process exits. The loader unloads them when the last instance goes away;
// the allocations they keep for the process's life then show up in the
// leak check with unknown frames that no suppression can name. Loaded
// here with RTLD_NODELETE first, they stay mapped, their frames keep their
// module names and tests/lsan.supp applies. A module that is not installed
// (another driver on a real GPU) is simply not found.
#include <dlfcn.h>

#include <initializer_list>

namespace {

struct KeepVulkanModulesLoaded {
    KeepVulkanModulesLoaded() {
        for (const char* name : {"libVkLayer_khronos_validation.so", "libvulkan_lvp.so"})
            dlopen(name, RTLD_NOW | RTLD_NODELETE);
    }
};

const KeepVulkanModulesLoaded keep_vulkan_modules_loaded;

}  // namespace
