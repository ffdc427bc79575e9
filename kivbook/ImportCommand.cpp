// SPDX-License-Identifier: GPL-3.0-or-later
// import: the days of another diary, a calendar or our own export into a
// book, never losing what the book holds.
#include "Archive.h"
#include "Commands.h"
#include "ConsolePrompts.h"
#include "Files.h"
#include "Import.h"
#include "Language.h"
#include "ProgressLine.h"
#include "TemporaryFolder.h"
#include "TextForms.h"

#include <cstdlib>
#include <filesystem>
#include <ostream>

namespace kiv::kivbook {
namespace {

constexpr const char* kMemoryFolder = "/dev/shm";

} // namespace

int ImportCommand(CommandContext& context)
{
    const Arguments& arguments = context.arguments;
    const std::string& source = arguments.Positionals().at(1);
    std::optional<ImportFormat> format;
    if (const auto name = arguments.Value("--format")) {
        format = ImportFormatNamed(*name);
        if (!format)
            throw UsageError(
                Fill(_("--format is jrnl, dayone, rednotebook, markdown, ics or json, not '%s'"), { *name }));
    }
    const std::string method = arguments.Value("--encrypt").value_or("");
    const auto encryption
        = method.empty() ? archive::EncryptionMethod::Traditional : archive::EncryptionMethodFromName(method);
    if (!encryption)
        throw UsageError(Fill(_("--encrypt takes traditional or aes256, not %s"), { method }));
    const bool dryRun = arguments.Has("--dry-run");

    // The whole source is read before the book is touched: malformed input
    // changes nothing.
    const ImportSource imported = ReadImportSource(format ? *format : DetectImportFormat(source), source);

    std::error_code error;
    const std::string book = std::filesystem::absolute(arguments.Positionals().at(0), error).string();
    // The day files of a moment are kept in memory (/dev/shm) unless the
    // user named a temporary folder: faster, and nothing of an encrypted
    // day reaches a disk.
    std::vector<std::string> parents { SystemTemporaryFolder(), FolderOf(book) };
    if (!std::getenv("TMPDIR") && std::filesystem::is_directory(kMemoryFolder, error)) {
        RemoveStaleTemporaries(kMemoryFolder, kPutFolderPrefix);
        parents.insert(parents.begin(), kMemoryFolder);
    }
    TemporaryFolder folder(parents, kPutFolderPrefix);
    SessionSettings settings = SettingsFor(context);
    settings.encrypt = arguments.Has("--encrypt");
    if (settings.encrypt)
        settings.purpose = ConsolePassword::Purpose::Encrypt;
    settings.encryption = *encryption;
    settings.workingDirectory = folder.Path();
    BookSession session(context.prompts, settings);

    std::set<std::string> members;
    const bool bookExists = std::filesystem::exists(session.Book(), error);
    if (bookExists) {
        session.RequireBook();
        for (std::string& member : session.Members())
            members.insert(std::move(member));
    }
    ImportPlan plan;
    {
        ProgressLine progress(_("reading"));
        plan = PlanImport(
            imported, members,
            [&](const std::string& member, TDayBook& record) {
                BookSession::Reading reading = session.ReadDay(member, record);
                for (const std::string& message : reading.messages)
                    context.prompts.Print(message);
                return reading.ok;
            },
            [&](std::size_t done, std::size_t count) { progress.Show(done, count); });
    }

    for (const std::string& line : plan.skipped)
        context.out << Printable(Fill(_("skipped %s"), { line }), false) << '\n';
    for (const std::string& line : plan.notes)
        context.out << Printable(line, false) << '\n';
    if (!plan.left.empty())
        context.out << Fill(_("characters a day cannot hold were left out: %s"), { plan.left }) << '\n';

    if (!dryRun && !plan.changed.empty()) {
        context.out.flush();
        WriteDayFiles(plan, folder.Path());
        // Days read with a password go back encrypted with it.
        const bool encrypt = settings.encrypt || session.Password().Given();
        if (!archive::AddDayFiles(session.Book(), encrypt)) {
            session.ExplainZipFailure();
            context.prompts.Print(_("nothing was imported"));
            return 1;
        }
    } else if (!dryRun && !bookExists) {
        archive::CreateEmptyBook(session.Book());
    }
    if (dryRun)
        context.out << _("dry run: the book was not changed") << '\n';
    context.out << Fill(_("%s added, %s extended, %s unchanged, %s skipped"),
                        { std::to_string(plan.added), std::to_string(plan.extended), std::to_string(plan.unchanged),
                          std::to_string(plan.skipped.size()) })
                << '\n';
    return 0;
}

} // namespace kiv::kivbook
