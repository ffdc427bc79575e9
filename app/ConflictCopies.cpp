// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConflictCopies.h"

#include "BookMerge.h"
#include "Error.h"
#include "Prompts.h"
#include "Registry.h"
#include "Workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>
#include <set>

namespace kiv {
namespace {

const char* const kMergeQuestion = "日記のそばに、同期のときに作られた別の版があります。\r\n%s\r\n"
                                   "この版の日記を合わせますか？";
const char* const kNotAgain = "この版については、今後たずねない";
const char* const kDeleteQuestion = "別の版の日記を合わせました。\r\n%s\r\nを削除しますか？";
const char* const kMergedHint = "別の版の日記を合わせました。";
const char* const kNotAskedSetting = "ConflictCopiesNotAsked";

// The copies passed over, one path a tab-separated part of the setting.
std::set<std::string> NotAsked()
{
    std::set<std::string> paths;
    const std::string value = registry::ReadSetting(kNotAskedSetting).value_or("");
    for (std::size_t start = 0; start < value.size();) {
        const std::size_t tab = std::min(value.find('\t', start), value.size());
        if (tab > start)
            paths.insert(value.substr(start, tab - start));
        start = tab + 1;
    }
    return paths;
}

void SetNotAsked(const std::set<std::string>& paths)
{
    std::string value;
    for (const std::string& path : paths)
        value += (value.empty() ? "" : "\t") + path;
    registry::WriteSetting(kNotAskedSetting, value);
}

std::string ScratchParent()
{
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

} // namespace

std::vector<std::string> ConflictCopiesOf(const std::string& book)
{
    const QFileInfo info(QString::fromStdString(book));
    const QString name = QRegularExpression::escape(info.completeBaseName());
    const QString suffix = info.suffix().isEmpty() ? QString() : QStringLiteral("\\.") + QRegularExpression::escape(info.suffix());
    const QRegularExpression pattern(QStringLiteral("^%1(\\.sync-conflict-\\d{8}-\\d{6}-[^.]+| \\(.*conflicted copy.*\\))%2$")
                                         .arg(name, suffix),
                                     QRegularExpression::CaseInsensitiveOption);
    std::vector<std::string> copies;
    const QDir folder = info.absoluteDir();
    for (const QFileInfo& entry : folder.entryInfoList(QDir::Files | QDir::Hidden, QDir::Name))
        if (pattern.match(entry.fileName()).hasMatch() && entry.fileName() != info.fileName())
            copies.push_back(entry.absoluteFilePath().toStdString());
    return copies;
}

void OfferConflictCopies(Workspace& workspace)
{
    const std::string book = workspace.BookFileName();
    if (book.empty())
        return;
    Prompts& prompts = workspace.prompts();
    std::set<std::string> notAsked = NotAsked();
    for (const std::string& copy : ConflictCopiesOf(book)) {
        if (notAsked.contains(copy))
            continue;
        bool passOver = false;
        const Answer answer = Ask(prompts, Format(kMergeQuestion, copy), Buttons::YesNo, true, kNotAgain, passOver);
        if (passOver) {
            notAsked.insert(copy);
            SetNotAsked(notAsked);
        }
        if (answer != Answer::Yes)
            continue;
        archive::MergeBooks(book, copy, ScratchParent(), false);
        workspace.FollowBook();
        workspace.ShowHint(kMergedHint);
        if (Ask(prompts, Format(kDeleteQuestion, copy), Buttons::YesNoDefaultNo, false) == Answer::Yes)
            QFile::remove(QString::fromStdString(copy));
    }
}

} // namespace kiv
