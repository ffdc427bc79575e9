// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Archive.h"
#include "ScriptedPrompts.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Recording stand-ins for the two archive libraries and the dialogs, and a
// fixture that installs them as the archive layer's host.
namespace kiv::archive::testing {

inline std::optional<std::string> Text(const char* text)
{
    return text ? std::optional<std::string>(text) : std::nullopt;
}

class FakeZip : public ZipLibrary {
public:
    // What one run handed over; texts are copied while they are valid.
    struct Run {
        ZipOptions options {};
        std::optional<std::string> date, rootDir, tempDir;
        int count = -1;
        std::optional<std::string> archive;
        bool namesNull = false;
        std::vector<std::string> names;
    };

    std::vector<std::string> calls;
    ZipCallbacks callbacks {};
    Run run;
    int result = 0;
    std::function<void()> duringArchive; // plays the library's callbacks
    ZipVersionRecord version {};

    int Init(const ZipCallbacks& given) override
    {
        calls.push_back("Init");
        callbacks = given;
        return 0;
    }
    int SetOptions(const ZipOptions& options) override
    {
        calls.push_back("SetOptions");
        run.options = options;
        run.date = Text(options.Date);
        run.rootDir = Text(options.szRootDir);
        run.tempDir = Text(options.szTempDir);
        return 0;
    }
    int Archive(int count, const char* archive, char** names) override
    {
        calls.push_back("Archive");
        run.count = count;
        run.archive = Text(archive);
        run.namesNull = names == nullptr;
        for (int i = 0; names && i < count; ++i)
            run.names.emplace_back(names[i]);
        if (duringArchive)
            duringArchive();
        return result;
    }
    void Version(ZipVersionRecord& record) override
    {
        calls.push_back("Version");
        record = version;
    }
};

class FakeUnZip : public UnZipLibrary {
public:
    std::vector<std::string> calls;
    std::map<std::string, std::string> members; // name -> bytes
    std::map<std::string, std::uint32_t> sizes; // recorded size where it differs from the bytes
    int check = 1;
    HARC handle = 7;
    int closeResult = 0;
    int running = 0;
    int extractCode = 0;
    std::uint16_t version = 540;
    std::string extractCommand;
    std::uint32_t extractSize = 0;
    std::string extractBytes; // written into the buffer on success

    std::uint16_t GetVersion() override { return version; }
    int GetRunning() override
    {
        calls.push_back("GetRunning");
        return running;
    }
    int GetBackGroundMode() override { return 0; }
    int SetBackGroundMode(int) override { return 0; }
    int CheckArchive(const char* archive, int mode) override
    {
        calls.push_back("CheckArchive " + std::string(archive) + " " + std::to_string(mode));
        return check;
    }
    HARC OpenArchive(HWND, const char* archive, std::uint32_t mode) override
    {
        calls.push_back("OpenArchive " + std::string(archive) + " " + std::to_string(mode));
        return handle;
    }
    int CloseArchive(HARC archive) override
    {
        calls.push_back("CloseArchive " + std::to_string(archive));
        return closeResult;
    }
    int FindFirst(HARC archive, const char* wildName, MemberInfo* info) override
    {
        calls.push_back("FindFirst " + std::to_string(archive) + " " + wildName + (info ? "" : " null"));
        found_.clear();
        if (archive == 0)
            return 1;
        for (const auto& [name, bytes] : members)
            if (std::string(wildName) == "*.DAY" ? name.size() >= 4 && name.substr(name.size() - 4) == ".DAY"
                                                 : name == wildName)
                found_.push_back(name);
        return Next(info);
    }
    int FindNext(HARC archive, MemberInfo* info) override
    {
        calls.push_back("FindNext " + std::to_string(archive));
        return Next(info);
    }
    int ExtractMem(HWND, const char* command, unsigned char* buffer, std::uint32_t size, time_t*, std::uint16_t*,
        std::uint32_t*) override
    {
        calls.push_back("ExtractMem");
        extractCommand = command;
        extractSize = size;
        if (extractCode == 0)
            std::memcpy(buffer, extractBytes.data(), std::min<std::size_t>(extractBytes.size(), size));
        return extractCode;
    }

private:
    int Next(MemberInfo* info)
    {
        if (found_.empty())
            return 1;
        const std::string name = found_.front();
        found_.pop_front();
        if (info) {
            std::memset(info, 0, sizeof *info);
            auto size = sizes.find(name);
            info->dwOriginalSize = size != sizes.end() ? size->second : std::uint32_t(members[name].size());
            std::strncpy(info->szFileName, name.c_str(), sizeof info->szFileName - 1);
        }
        return 0;
    }

    std::deque<std::string> found_;
};

class FakePassword : public PasswordSource {
public:
    std::deque<std::optional<std::string>> answers; // nullopt: Cancel
    int asked = 0;

    bool AskPassword(std::string& password) override
    {
        ++asked;
        if (answers.empty() || !answers.front()) {
            if (!answers.empty())
                answers.pop_front();
            return false;
        }
        password = *answers.front();
        answers.pop_front();
        return true;
    }
};

class FakeOutput : public OutputSink {
public:
    std::vector<std::string> lines;
    int repaints = 0;
    int shows = 0;
    bool active = false;

    void AppendLine(const std::string& line) override { lines.push_back(line); }
    void Repaint() override { ++repaints; }
    bool IsActive() override { return active; }
    void Show() override { ++shows; }
};

// Installs the fakes as the host; every test starts from the program's
// start state.
struct Fixture {
    ScriptedPrompts prompts;
    FakeZip zip;
    FakeUnZip unzip;
    FakePassword password;
    FakeOutput output;
    bool checked = false;

    void Install(const std::string& workingDirectory = "/home/u/work")
    {
        Host host;
        host.prompts = &prompts;
        host.password = &password;
        host.output = &output;
        host.workingDirectory = workingDirectory;
        host.passwordChecked = [this] { return checked; };
        host.zip = &zip;
        host.unzip = &unzip;
        SetHost(host);
        BookHandle = 0;
        ZipPassword.fill('\0');
        ZipEncrypt = false;
        ZipQuiet = false;
        ZipOutputPending.clear();
    }

    // Messages as "beep|text" lines, for exact comparisons.
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> result;
        for (const auto& shown : prompts.messages())
            result.push_back(std::string(shown.beepBefore ? "beep|" : "") + shown.text);
        return result;
    }
};

} // namespace kiv::archive::testing
