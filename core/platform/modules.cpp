// Loading of the core's own modules with the dynamic loader.
#include "platform/modules.h"

#include <dlfcn.h>

#include <string>

namespace mk::platform {

void *LoadModule(const char *fileName) {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&LoadModule), &info) != 0 && info.dli_fname != nullptr) {
        const std::string self = info.dli_fname;
        const auto slash = self.find_last_of('/');
        if (slash != std::string::npos) {
            const std::string path = self.substr(0, slash + 1) + fileName;
            if (void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
        }
    }
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

void *ModuleSymbol(void *module, const char *name) {
    return module != nullptr ? dlsym(module, name) : nullptr;
}

}  // namespace mk::platform
