// SPDX-License-Identifier: GPL-3.0-or-later
#include "Registry.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

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

    // The key of the program's own settings.
    const char* const kSettingsKey = "KIV_SETTINGS";

    bool IsGroupLine(const std::string& trimmed, std::string& name)
    {
        if (trimmed.empty() || trimmed.front() != '[')
            return false;
        const auto close = trimmed.find(']');
        name = close == std::string::npos ? std::string() : Trim(trimmed.substr(1, close - 1));
        return true;
    }

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
        std::string name;
        if (IsGroupLine(line, name)) {
            inGroup = !name.empty() && SameName(name, group);
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

bool WriteIniText(
    const std::string& iniPath, const std::string& group, const std::string& valueName, const std::string& value)
{
    std::vector<std::string> lines;
    {
        std::ifstream file(iniPath);
        std::string line;
        while (std::getline(file, line))
            lines.push_back(line);
    }
    // New lines end as the file's first line does.
    const std::string end = !lines.empty() && !lines.front().empty() && lines.front().back() == '\r' ? "\r" : "";
    const std::string entry = valueName + "=" + value + end;

    bool inGroup = false;
    bool written = false;
    std::size_t groupEnd = 0; // after the last line of the last group of that name
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        std::string name;
        if (IsGroupLine(line, name)) {
            inGroup = !name.empty() && SameName(name, group);
            if (inGroup)
                groupEnd = i + 1;
            continue;
        }
        if (!inGroup || line.empty())
            continue;
        groupEnd = i + 1;
        const auto equals = line.find('=');
        if (line.front() != ';' && line.front() != '#' && equals != std::string::npos
            && SameName(Trim(line.substr(0, equals)), valueName)) {
            lines[i] = entry;
            written = true;
        }
    }
    if (!written && groupEnd > 0) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(groupEnd), entry);
    } else if (!written) {
        if (!lines.empty() && !Trim(lines.back()).empty())
            lines.push_back(end);
        lines.push_back("[" + group + "]" + end);
        lines.push_back(entry);
    }

    std::error_code error;
    const std::filesystem::path path(iniPath);
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), error);
    const std::string temporary = iniPath + ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines)
            file << line << '\n';
        file.close();
        if (!file) {
            std::filesystem::remove(temporary, error);
            return false;
        }
    }
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    return true;
}

std::optional<std::string> ReadSetting(const std::string& name)
{
    std::optional<std::string> text = ReadClassesRootText(kSettingsKey, name);
    // A setting is never empty: empty reads as never written.
    if (!text || text->empty())
        return std::nullopt;
    return text;
}

bool KeepPreviousBook()
{
    std::optional<std::string> value = ReadSetting("KeepPreviousBook");
    if (!value)
        return true;
    std::transform(value->begin(), value->end(), value->begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return *value != "0" && *value != "no" && *value != "off" && *value != "false";
}

int BookLockWait()
{
    const std::optional<std::string> value = ReadSetting("BookLockWait");
    char* end = nullptr;
    const long seconds = value ? std::strtol(value->c_str(), &end, 10) : 0;
    if (!value || end == value->c_str() || *end != '\0' || seconds < 0 || seconds > 600)
        return 5;
    return static_cast<int>(seconds);
}

bool WriteSetting(const std::string& name, const std::string& value)
{
#ifdef _WIN32
    // The user's own classes, which HKEY_CLASSES_ROOT shows, need no rights
    // beyond the user's.
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + Wide(kSettingsKey)).c_str(), 0, nullptr, 0,
            KEY_SET_VALUE, nullptr, &handle, nullptr)
        != ERROR_SUCCESS)
        return false;
    const std::wstring text = Wide(value);
    const bool ok = RegSetValueExW(handle, Wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)))
        == ERROR_SUCCESS;
    RegCloseKey(handle);
    return ok;
#else
    return WriteIniText(IniFilePath(), kSettingsKey, name, value);
#endif
}

} // namespace kiv::registry
