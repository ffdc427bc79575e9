// Shared libraries loaded the first time one of their functions is called.
//
// A library that most runs never need would, linked, be loaded (with what
// it pulls in) at every start; for a short run that costs more than its own
// work. KIV_ON_DEMAND defines a function of the library's name and type
// that loads the library by its soname on the first call and forwards to
// the real function there. A shared library that holds such definitions
// keeps them local (its version script), so that a program linking the
// real library meets only the real functions.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace kiv::ondemand {

// The function of that name and type in the library; a library that cannot
// be loaded is a broken installation, and the run ends with the loader's
// message.
template <typename Function> Function* Resolve(const char* soname, const char* name)
{
    void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    void* address = library ? dlsym(library, name) : nullptr;
    if (!address) {
        std::fprintf(stderr, "%s\n", dlerror());
        std::abort();
    }
    return reinterpret_cast<Function*>(address);
}

} // namespace kiv::ondemand

#define KIV_ON_DEMAND(soname, result, name, parameters, arguments)                                                 \
    result name parameters                                                                                         \
    {                                                                                                              \
        static decltype(::name)* const real = ::kiv::ondemand::Resolve<decltype(::name)>(soname, #name);           \
        return real arguments;                                                                                     \
    }
