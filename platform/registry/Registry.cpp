#include "Registry.h"

#include <cstdlib>
#include <fstream>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace kiv::registry {
namespace {

    std::string Trim(const std::string& text)
    {
        const auto first = text.find_first_not_of(" \t\r\n");
        if (first == std::string::npos)
            return {};
        const auto last = text.find_last_not_of(" \t\r\n");
        return text.substr(first, last - first + 1);
    }

    // Registry key and value names ignore the case of ASCII letters.
    bool SameName(const std::string& a, const std::string& b)
    {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : char(c); };
            if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
                return false;
        }
        return true;
    }

#ifdef _WIN32
    std::wstring Wide(const std::string& utf8)
    {
        if (utf8.empty())
            return {};
        const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
        std::wstring wide(std::size_t(length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), wide.data(), length);
        return wide;
    }

    std::string Utf8(const std::wstring& wide)
    {
        if (wide.empty())
            return {};
        const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
        std::string utf8(std::size_t(length), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), utf8.data(), length, nullptr, nullptr);
        return utf8;
    }
#endif

} // namespace

std::optional<std::string> ReadIniText(
    const std::string& iniPath, const std::string& group, const std::string& valueName)
{
    std::ifstream file(iniPath);
    if (!file)
        return std::nullopt;
    bool groupFound = false;
    bool inGroup = false;
    std::string value;
    std::string line;
    while (std::getline(file, line)) {
        line = Trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const auto close = line.find(']');
            inGroup = close != std::string::npos && SameName(Trim(line.substr(1, close - 1)), group);
            groupFound = groupFound || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos || !SameName(Trim(line.substr(0, equals)), valueName))
            continue;
        value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
    }
    if (!groupFound)
        return std::nullopt;
    return value;
}

std::string IniFilePath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && *config) {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + "/.config";
    }
    return base + "/kiv/registry.ini";
}

std::optional<std::string> ReadClassesRootText(const std::string& key, const std::string& valueName)
{
#ifdef _WIN32
    // Full access is requested, as the key belongs to the program; it is
    // never created here.
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Wide(key).c_str(), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS)
        return std::nullopt;
    std::string text;
    const std::wstring name = Wide(valueName);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(handle, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS
        && (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
        std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size)
            == ERROR_SUCCESS) {
            buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
            text = Utf8(buffer);
        }
    }
    RegCloseKey(handle);
    return text;
#else
    return ReadIniText(IniFilePath(), key, valueName);
#endif
}

} // namespace kiv::registry
