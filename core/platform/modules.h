// Modules the core loads on demand (the progress dialog, the locale data),
// so that programs which never need them never map their libraries.
#pragma once

namespace mk::platform {

// Loads the module `fileName` from the folder of the binary that holds the
// core, else by the loader's search path (the calling binary's run path,
// LD_LIBRARY_PATH, the system folders). Modules stay loaded for the life of
// the process. Null when neither is found.
void *LoadModule(const char *fileName);

// The address of `name` in a loaded module, or null.
void *ModuleSymbol(void *module, const char *name);

}  // namespace mk::platform
