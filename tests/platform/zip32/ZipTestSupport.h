// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the zip32 and unzip32 tests: files, peer tools and a zip32 run
// with scripted callbacks.
#pragma once

#include "zip32.h"

#include <QtTest>

#include <zip.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ziptest {

inline QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void WriteAll(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
}

// Text that compresses like a diary entry.
inline QByteArray DayText(int seed, int size)
{
    static const char* words[] = {"sunny ", "rain ", "meeting ", "lunch ", "train ", "\x93\xfa\x8b\x4c ", "walk\r\n"};
    QByteArray text = "TPF0";
    unsigned state = static_cast<unsigned>(seed) * 2654435761u + 1;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text += words[(state >> 16) % 7];
    }
    return text.left(size);
}

inline bool SetModified(const QString& path, const QDateTime& when)
{
    const time_t t = static_cast<time_t>(when.toSecsSinceEpoch());
    const struct timespec times[2] = {{t, 0}, {t, 0}};
    return utimensat(AT_FDCWD, path.toLocal8Bit().constData(), times, 0) == 0;
}

struct PeerResult {
    int exitCode = -1;
    QByteArray output;
};

inline bool HavePeer(const QString& program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

inline PeerResult RunPeer(const QString& program, const QStringList& args, const QString& workDir = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(program, args);
    PeerResult result;
    if (!process.waitForStarted() || !process.waitForFinished(60000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAll();
    return result;
}

inline PeerResult Python(const QString& script, const QStringList& args = {})
{
    return RunPeer("python3", QStringList{"-c", script} + args);
}

// A peer tool that is missing skips the test on a developer's machine. The
// test command (CI set) installs every peer tool, so there it is a failure.
#define REQUIRE_PEER(program)                                                                                  \
    do {                                                                                                       \
        if (!ziptest::HavePeer(program)) {                                                                     \
            const QString missing = QStringLiteral("%1 is not installed").arg(program);                        \
            if (!qEnvironmentVariableIsEmpty("CI"))                                                            \
                QFAIL(qPrintable(missing));                                                                    \
            QSKIP(qPrintable(missing));                                                                        \
        }                                                                                                      \
    } while (0)

// Members of a book as libzip reads them: name -> data ("<error>" when a
// member cannot be read).
inline std::map<std::string, QByteArray> Members(const QString& book, const char* password = nullptr)
{
    std::map<std::string, QByteArray> members;
    int error = 0;
    zip_t* archive = zip_open(book.toLocal8Bit().constData(), ZIP_RDONLY, &error);
    if (!archive)
        return members;
    for (zip_int64_t i = 0, n = zip_get_num_entries(archive, 0); i < n; ++i) {
        zip_stat_t st;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW, &st);
        zip_file_t* file = password ? zip_fopen_index_encrypted(archive, static_cast<zip_uint64_t>(i), 0, password)
                                    : zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        QByteArray data(static_cast<qsizetype>(st.size), '\0');
        if (!file || zip_fread(file, data.data(), st.size) != static_cast<zip_int64_t>(st.size))
            data = "<error>";
        if (file)
            zip_fclose(file);
        members[st.name] = data;
    }
    zip_discard(archive);
    return members;
}

inline QStringList Names(const std::map<std::string, QByteArray>& members)
{
    QStringList names;
    for (const auto& [name, data] : members)
        names << QString::fromStdString(name);
    return names;
}

// The raw (compressed) data and CRC of one member, to see that it was copied
// rather than recompressed.
inline QByteArray RawMember(const QString& book, const char* name)
{
    int error = 0;
    zip_t* archive = zip_open(book.toLocal8Bit().constData(), ZIP_RDONLY, &error);
    if (!archive)
        return {};
    QByteArray raw;
    zip_stat_t st;
    if (zip_stat(archive, name, 0, &st) == 0) {
        zip_file_t* file = zip_fopen(archive, name, ZIP_FL_COMPRESSED);
        raw.resize(static_cast<qsizetype>(st.comp_size));
        if (!file || zip_fread(file, raw.data(), st.comp_size) != static_cast<zip_int64_t>(st.comp_size))
            raw = "<error>";
        if (file)
            zip_fclose(file);
        raw += QByteArray::number(st.crc);
    }
    zip_discard(archive);
    return raw;
}

// One zip32 run with scripted callbacks. Options start from zero with level
// '6', as the program's driver sends them.
class ZipRun {
public:
    ZipOptions options{};
    std::deque<const char*> passwords; // answers; nullptr cancels
    std::vector<std::string> lines;     // one per print call
    std::vector<std::string> prompts;
    std::function<void()> prompt; // called at each password prompt
    std::function<void(const std::string&)> printed; // called with each line
    bool passwordCallback = true;

    ZipRun() { options.fLevel = '6'; }

    int Run(const QString& book, const QStringList& names, const QString& root = {})
    {
        Current() = this;
        const ZipCallbacks callbacks{&Print, &Comment, passwordCallback ? &Password : nullptr, nullptr};
        ZpInit(&callbacks);
        const std::string rootText = root.toStdString();
        options.szRootDir = root.isEmpty() ? nullptr : rootText.c_str();
        ZpSetOptions(&options);
        std::vector<std::string> texts;
        for (const QString& n : names)
            texts.push_back(n.toStdString());
        std::vector<char*> argv;
        for (std::string& t : texts)
            argv.push_back(t.data());
        const std::string archive = book.toStdString();
        return ZpArchive(static_cast<int>(argv.size()), archive.c_str(), argv.empty() ? nullptr : argv.data());
    }

    std::string Output() const
    {
        std::string all;
        for (const std::string& l : lines)
            all += l;
        return all;
    }

    std::function<char*(char**)> comment;

private:
    static ZipRun*& Current()
    {
        static ZipRun* current = nullptr;
        return current;
    }
    static int Print(const char* text, unsigned long)
    {
        Current()->lines.emplace_back(text);
        if (Current()->printed)
            Current()->printed(text);
        return static_cast<int>(std::strlen(text));
    }
    static char* Comment(char** text)
    {
        return Current()->comment ? Current()->comment(text) : (text ? *text : nullptr);
    }
    static int Password(char* buffer, int size, const char* prompt, const char*)
    {
        ZipRun* run = Current();
        run->prompts.emplace_back(prompt);
        if (run->prompt)
            run->prompt();
        if (run->passwords.empty() || !run->passwords.front())
            return 1;
        std::snprintf(buffer, static_cast<std::size_t>(size), "%s", run->passwords.front());
        run->passwords.pop_front();
        return 0;
    }
};

// Runs action in a child process without root's right to ignore file
// permissions (as user "nobody" when the tests run as root); returns the
// child's exit code.
inline int RunUnprivileged(const std::function<int()>& action)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(200);
        _exit(action());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace ziptest
