// SPDX-License-Identifier: GPL-3.0-or-later
#include "TransferCommands.h"

#include "Archive.h"
#include "BookCommands.h"
#include "BookSearch.h"
#include "BookSession.h"
#include "Error.h"
#include "Import.h"
#include "Language.h"
#include "SingleFileExport.h"
#include "TemporaryFolder.h"
#include "Workspace.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <set>

namespace kiv {
namespace {

const char* const kNoBook = "日記が開かれていません。\r\n日記を開いてから、もう一度選んでください。";
const char* const kExportKinds = "書き出せるのは、名前が .json、.ics、.pdf で終わるファイルです。";
const char* const kOverwrite = "%s はすでにあります。\r\n上書きしますか？";
const char* const kCannotImport = "取り込めませんでした。\r\n\r\n%s";
const char* const kNothingToImport = "取り込む日はありませんでした。";
const char* const kImportQuestion = "%s から取り込みます。\r\n\r\n%s\r\n\r\nよろしいですか？";
const char* const kImported = "取り込みました。\r\n\r\n%s";
const char* const kImportFailed = "日記に書き込めませんでした。何も取り込んでいません。";
const char* const kExported = "%d 日を %s に書き出しました。";
const char* const kUnreadable = "\r\n読めなかった %d 日は飛ばしました。";
constexpr int kShownDetails = 12;

std::string Format(const char* pattern, const std::string& a, const std::string& b = {})
{
    std::string text = pattern;
    for (const std::string* part : { &a, &b })
        if (const std::size_t at = text.find("%s"); at != std::string::npos)
            text.replace(at, 2, *part);
    return text;
}

std::string Counted(const char* pattern, int n, const std::string& s = {})
{
    std::string text = pattern;
    if (const std::size_t at = text.find("%d"); at != std::string::npos)
        text.replace(at, 2, std::to_string(n));
    return Format(text.c_str(), s);
}

// kivbook's own texts (what was skipped and why) in the program's language.
void SpeakJapanese()
{
    kivbook::UseJapaneseCatalogue();
}

std::vector<std::string> BookMembers(const std::string& book)
{
    std::string text;
    archive::ListDays(book, text);
    std::vector<std::string> members;
    for (std::string_view member : MemberLines(text))
        members.emplace_back(member);
    return members;
}

// Reads the book's days one after another with the book kept open; a day
// that does not extract has been reported by the archive layer.
class BookDays {
public:
    explicit BookDays(const std::string& book)
        : book_(book)
    {
    }
    ~BookDays()
    {
        if (archive::BookHandle != 0)
            archive::CloseBookArchive();
    }
    BookDays(const BookDays&) = delete;
    BookDays& operator=(const BookDays&) = delete;

    bool Read(const std::string& member, TDayBook& record)
    {
        MemoryStream stream;
        if (!archive::ExtractDay(book_, member, stream, archive::KeepOpen::Yes)) {
            ++unreadable_;
            return false;
        }
        stream.SetPosition(0);
        try {
            record.Read(stream);
        } catch (const Error&) {
            ++unreadable_;
            return false;
        }
        return true;
    }
    int Unreadable() const { return unreadable_; }

private:
    std::string book_;
    int unreadable_ = 0;
};

// The counts and, up to a dozen, what was skipped and why.
std::string Summary(const kivbook::ImportPlan& plan)
{
    std::string text = "追加 " + std::to_string(plan.added) + " 日、追記 " + std::to_string(plan.extended)
        + " 日、変更なし " + std::to_string(plan.unchanged) + " 日、飛ばした項目 " + std::to_string(plan.skipped.size());
    std::vector<std::string> details = plan.skipped;
    details.insert(details.end(), plan.notes.begin(), plan.notes.end());
    if (!plan.left.empty())
        details.push_back("保存できない文字を除きました: " + plan.left);
    for (std::size_t i = 0; i < details.size() && i < kShownDetails; ++i)
        text += "\r\n" + details[i];
    if (details.size() > kShownDetails)
        text += "\r\n（ほか " + std::to_string(details.size() - kShownDetails) + " 件）";
    return text;
}

// The Zip run adds the day files of the import's own folder, not the
// working directory's.
class WorkingDirectoryFor {
public:
    explicit WorkingDirectoryFor(const std::string& folder)
        : saved_(archive::CurrentHost().workingDirectory)
    {
        archive::CurrentHost().workingDirectory = folder;
    }
    ~WorkingDirectoryFor() { archive::CurrentHost().workingDirectory = saved_; }
    WorkingDirectoryFor(const WorkingDirectoryFor&) = delete;
    WorkingDirectoryFor& operator=(const WorkingDirectoryFor&) = delete;

private:
    std::string saved_;
};

} // namespace

TransferCommands::TransferCommands(Workspace& workspace, BookCommands& books)
    : workspace_(workspace)
    , books_(books)
    , exportDialog_ { "JSON（すべての欄と画像）|*.json|iCalendar（予定表）|*.ics|PDF（印刷用）|*.pdf", "json", {} }
    , importDialog_ { "取り込める日記とカレンダー|*.json;*.zip;*.ics;*.txt;*.md|すべてのファイル|*", "", {} }
{
}

bool TransferCommands::RequireBook()
{
    if (workspace_.BookNamed())
        return true;
    ShowError(workspace_.prompts(), kNoBook, true);
    return false;
}

void TransferCommands::Export()
{
    if (!RequireBook())
        return;
    const std::string& book = workspace_.BookFileName();
    const QFileInfo bookFile(QString::fromStdString(book));
    exportDialog_.fileName = (bookFile.absolutePath() + "/" + bookFile.completeBaseName() + ".json").toStdString();
    if (!workspace_.prompts().SaveFile(exportDialog_))
        return;
    const std::string path = exportDialog_.fileName;
    const QFileInfo target(QString::fromStdString(path));
    const auto format = kivbook::SingleFileNamed(target.suffix().toLower().toStdString());
    if (!format) {
        ShowError(workspace_.prompts(), kExportKinds, true);
        return;
    }
    if (target.exists() && Ask(workspace_.prompts(), Format(kOverwrite, path), Buttons::YesNo, false) != Answer::Yes)
        return;
    SpeakJapanese();
    std::vector<kivbook::DatedMember> days;
    for (const std::string& member : BookMembers(book))
        if (const auto date = kivbook::DateOfMember(member))
            days.emplace_back(member, *date);
    // Written beside the target and renamed over it: a failure leaves the
    // file that was there.
    const std::string partial = path + ".partial";
    {
        BookDays reader(book);
        try {
            kivbook::WriteSingleFile(*format, days,
                [&](const std::string& member, TDayBook& record) { return reader.Read(member, record); }, partial,
                bookFile.fileName().toStdString());
        } catch (...) {
            std::remove(partial.c_str());
            throw;
        }
        if (std::rename(partial.c_str(), path.c_str()) != 0) {
            std::remove(partial.c_str());
            throw Error("書き出したファイルを置けません: " + path);
        }
        std::string text = Counted(kExported, static_cast<int>(days.size()) - reader.Unreadable(), path);
        if (reader.Unreadable() > 0)
            text += Counted(kUnreadable, reader.Unreadable());
        ShowPlain(workspace_.prompts(), text, false);
    }
}

void TransferCommands::Import()
{
    if (!RequireBook())
        return;
    // The shown day's edits go into the book first, as 上書き保存 puts
    // them: the import then meets every day where the book holds it.
    if (!books_.SaveBook())
        return;
    if (!workspace_.prompts().OpenFile(importDialog_))
        return;
    std::string source = importDialog_.fileName;
    // A month's file of a notebook or a day's page stands for its folder.
    const QString suffix = QFileInfo(QString::fromStdString(source)).suffix().toLower();
    if (suffix == "txt" || suffix == "md")
        source = QFileInfo(QString::fromStdString(source)).absolutePath().toStdString();
    SpeakJapanese();
    const std::string& book = workspace_.BookFileName();
    kivbook::ImportPlan plan;
    try {
        const kivbook::ImportSource imported
            = kivbook::ReadImportSource(kivbook::DetectImportFormat(source), source);
        const std::vector<std::string> members = BookMembers(book);
        BookDays reader(book);
        plan = kivbook::PlanImport(imported, std::set<std::string>(members.begin(), members.end()),
            [&](const std::string& member, TDayBook& record) { return reader.Read(member, record); });
    } catch (const kivbook::Failure& failure) {
        ShowError(workspace_.prompts(), Format(kCannotImport, failure.what()), true);
        return;
    }
    if (plan.changed.empty()) {
        ShowPlain(workspace_.prompts(), std::string(kNothingToImport) + "\r\n\r\n" + Summary(plan), false);
        return;
    }
    if (Ask(workspace_.prompts(), Format(kImportQuestion, source, Summary(plan)), Buttons::YesNo, false)
        != Answer::Yes)
        return;
    bool added = false;
    {
        kivbook::TemporaryFolder folder(kivbook::SystemTemporaryFolder(), kivbook::kPutFolderPrefix);
        kivbook::WriteDayFiles(plan, folder.Path());
        WorkingDirectoryFor working(folder.Path());
        added = archive::AddDayFiles(book);
    }
    workspace_.RefreshDateList();
    workspace_.LoadDay(workspace_.Date());
    workspace_.SetModified(false);
    if (added)
        ShowPlain(workspace_.prompts(), Format(kImported, Summary(plan)), false);
    else
        ShowError(workspace_.prompts(), kImportFailed, false);
}

} // namespace kiv
