// SPDX-License-Identifier: GPL-3.0-or-later
// Shared libraries loaded the first time one of their functions is called.
//
// A library that most runs never need would, linked, be loaded (with what
// it pulls in) at every start; for a short run that costs more than its own
// work. KIV_ON_DEMAND defines a function of the library's name and type
// that loads the library by its soname on the first call and forwards to
// the real function there. A shared library that holds such definitions
// keeps them local (its version script), so that a program linking the
// real library meets only the real functions.
//
// A library that cannot be loaded never ends the program: callers ask
// Loads first and report its message; a forwarding function called anyway
// returns the failure value it was defined with.
#pragma once

#include <dlfcn.h>

#include <string>
#include <type_traits>

namespace kiv::ondemand {

// Whether the library loads; why not (the loader's message) when it does
// not.
inline bool Loads(const char* soname, std::string& why)
{
    if (dlopen(soname, RTLD_NOW | RTLD_LOCAL))
        return true;
    const char* error = dlerror();
    why = error ? error : std::string(soname) + ": cannot be loaded";
    return false;
}

// The function of that name and type in the library; null when the library
// or the function is not there.
template <typename Function> Function* Resolve(const char* soname, const char* name)
{
    void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    return library ? reinterpret_cast<Function*>(dlsym(library, name)) : nullptr;
}

// A failure value in the manner of C libraries: null, or -1.
template <typename Result> Result Failure()
{
    if constexpr (std::is_pointer_v<Result>)
        return nullptr;
    else if constexpr (!std::is_void_v<Result>)
        return static_cast<Result>(-1);
}

} // namespace kiv::ondemand

// failure: what the function returns when the library cannot be loaded.
#define KIV_ON_DEMAND(soname, failure, result, name, parameters, arguments)                                        \
    result name parameters                                                                                         \
    {                                                                                                              \
        static decltype(::name)* const real = ::kiv::ondemand::Resolve<decltype(::name)>(soname, #name);           \
        if (!real)                                                                                                 \
            return failure;                                                                                        \
        return real arguments;                                                                                     \
    }
