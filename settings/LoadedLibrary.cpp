#include "settings/LoadedLibrary.h"

#include <cstdio>
#include <dlfcn.h>

namespace {

void Report(const char* consequence, const char* fallback) {
    const char* why = ::dlerror();
    std::fprintf(stderr, "Pawlinex: %s: %s\n", consequence, why ? why : fallback);
}

} // namespace

LoadedLibrary::LoadedLibrary(const char* soname, const char* consequence)
    : m_handle(::dlopen(soname, RTLD_NOW | RTLD_LOCAL)), m_consequence(consequence) {
    if (!m_handle)
        Report(consequence, soname);
}

void* LoadedLibrary::symbol(const char* name) const {
    void* found = m_handle ? ::dlsym(m_handle, name) : nullptr;
    if (!found && m_handle)
        Report(m_consequence, name);
    return found;
}
