#include "platform/HardwareDecode.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#include <va/va.h>

#include <string>
#include <vector>

namespace rillow {

namespace {

// The few VA-API entry points we need, resolved from libva at run time: linking libva would make
// it a hard dependency just to answer a question whose fallback answer ("no") is always safe.
struct VaApi {
    using GetDisplayDRM = VADisplay (*)(int);
    using Initialize = VAStatus (*)(VADisplay, int*, int*);
    using Terminate = VAStatus (*)(VADisplay);
    using MaxNumProfiles = int (*)(VADisplay);
    using QueryConfigProfiles = VAStatus (*)(VADisplay, VAProfile*, int*);
    using MaxNumEntrypoints = int (*)(VADisplay);
    using QueryConfigEntrypoints = VAStatus (*)(VADisplay, VAProfile, VAEntrypoint*, int*);

    void* va = nullptr;
    void* vaDrm = nullptr;
    GetDisplayDRM getDisplayDRM = nullptr;
    Initialize initialize = nullptr;
    Terminate terminate = nullptr;
    MaxNumProfiles maxNumProfiles = nullptr;
    QueryConfigProfiles queryConfigProfiles = nullptr;
    MaxNumEntrypoints maxNumEntrypoints = nullptr;
    QueryConfigEntrypoints queryConfigEntrypoints = nullptr;

    VaApi() {
        va = dlopen("libva.so.2", RTLD_NOW | RTLD_LOCAL);
        vaDrm = dlopen("libva-drm.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!va || !vaDrm) return;
        getDisplayDRM = reinterpret_cast<GetDisplayDRM>(dlsym(vaDrm, "vaGetDisplayDRM"));
        initialize = reinterpret_cast<Initialize>(dlsym(va, "vaInitialize"));
        terminate = reinterpret_cast<Terminate>(dlsym(va, "vaTerminate"));
        maxNumProfiles = reinterpret_cast<MaxNumProfiles>(dlsym(va, "vaMaxNumProfiles"));
        queryConfigProfiles =
            reinterpret_cast<QueryConfigProfiles>(dlsym(va, "vaQueryConfigProfiles"));
        maxNumEntrypoints = reinterpret_cast<MaxNumEntrypoints>(dlsym(va, "vaMaxNumEntrypoints"));
        queryConfigEntrypoints =
            reinterpret_cast<QueryConfigEntrypoints>(dlsym(va, "vaQueryConfigEntrypoints"));
    }
    ~VaApi() {
        if (vaDrm) dlclose(vaDrm);
        if (va) dlclose(va);
    }
    VaApi(const VaApi&) = delete;
    VaApi& operator=(const VaApi&) = delete;

    bool complete() const {
        return getDisplayDRM && initialize && terminate && maxNumProfiles && queryConfigProfiles &&
               maxNumEntrypoints && queryConfigEntrypoints;
    }
};

bool displayDecodesAV1(const VaApi& api, VADisplay display) {
    int count = api.maxNumProfiles(display);
    if (count <= 0) return false;
    std::vector<VAProfile> profiles(static_cast<size_t>(count));
    if (api.queryConfigProfiles(display, profiles.data(), &count) != VA_STATUS_SUCCESS)
        return false;
    const int maxEntrypoints = api.maxNumEntrypoints(display);
    if (maxEntrypoints <= 0) return false;
    std::vector<VAEntrypoint> entrypoints(static_cast<size_t>(maxEntrypoints));
    for (int i = 0; i < count && i < static_cast<int>(profiles.size()); ++i) {
        const VAProfile profile = profiles[static_cast<size_t>(i)];
        if (profile != VAProfileAV1Profile0 && profile != VAProfileAV1Profile1) continue;
        int entrypointCount = maxEntrypoints;
        if (api.queryConfigEntrypoints(display, profile, entrypoints.data(), &entrypointCount) !=
            VA_STATUS_SUCCESS)
            continue;
        for (int e = 0; e < entrypointCount && e < maxEntrypoints; ++e)
            if (entrypoints[static_cast<size_t>(e)] == VAEntrypointVLD) return true;
    }
    return false;
}

bool queryAV1() {
    const VaApi api;
    if (!api.complete()) return false;
    // Render nodes are numbered from 128; a machine rarely has more than a few GPUs.
    for (int node = 128; node < 136; ++node) {
        const std::string path = "/dev/dri/renderD" + std::to_string(node);
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        bool decodes = false;
        if (VADisplay display = api.getDisplayDRM(fd)) {
            int major = 0, minor = 0;
            if (api.initialize(display, &major, &minor) == VA_STATUS_SUCCESS) {
                decodes = displayDecodesAV1(api, display);
                api.terminate(display);
            }
        }
        ::close(fd);
        if (decodes) return true;
    }
    return false;
}

}  // namespace

bool canDecodeAV1InHardware() {
    static const bool answer = queryAV1();
    return answer;
}

}  // namespace rillow
