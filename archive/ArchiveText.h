// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exception>
#include <string>
#include <string_view>

// Small text helpers shared by the archive layer's sources.
namespace kiv::archive::detail {

// The directory separator written into commands after the working directory.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Separators that end a directory part when a path is split.
inline bool IsPathSeparator(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/' || c == ':';
#else
    return c == '/';
#endif
}

// Removes leading and trailing characters with codes up to 32.
std::string Trim(std::string_view text);
// The text without its trailing characters with codes up to 32.
std::string_view TrimRight(std::string_view text);

// Library output may arrive in code page 932 or, for file names, in UTF-8;
// the output window takes UTF-8.
std::string OutputText(std::string_view text);

// Copies a password and its NUL into a library's buffer of size bytes,
// shortening it when the buffer is too small.
void CopyPassword(const std::string& password, char* buffer, int size);
// Overwrites a password's bytes with zeros, in a way no optimiser drops.
void Wipe(char* data, std::size_t size);
void Wipe(std::string& password);

// The callbacks that the archive libraries call let no exception into them
// (their interface is C's): what a callback throws is kept, the library is
// told failure, and the exception is thrown again once the library call
// has returned (RethrowCallbackError).
std::exception_ptr& PendingCallbackError();
template <typename F> auto CatchInCallback(F body, decltype(body()) failure) noexcept -> decltype(body())
{
    try {
        return body();
    } catch (...) {
        if (!PendingCallbackError())
            PendingCallbackError() = std::current_exception();
        return failure;
    }
}
// Throws what a callback threw during the last library call, if anything.
void RethrowCallbackError();

} // namespace kiv::archive::detail
