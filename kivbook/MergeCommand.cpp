// SPDX-License-Identifier: GPL-3.0-or-later
// merge: the days of other copies of a book brought into it.
#include "Archive.h"
#include "BookMerge.h"
#include "Commands.h"
#include "ConsolePrompts.h"
#include "Language.h"
#include "TemporaryFolder.h"
#include "TextForms.h"

#include <filesystem>
#include <ostream>

namespace kiv::kivbook {
namespace {

std::string ShownDate(const std::string& member)
{
    const std::optional<Date> date = DateOfMember(member);
    return date ? DateListLine(*date) : ShownName(member);
}

} // namespace

int MergeCommand(CommandContext& context)
{
    const Arguments& arguments = context.arguments;
    const bool dryRun = arguments.Has("--dry-run");
    BookSession session(context.prompts, SettingsFor(context));
    session.RequireBook();
    const std::vector<std::string>& positionals = arguments.Positionals();
    std::vector<std::string> others;
    for (std::size_t i = 1; i < positionals.size(); ++i) {
        const std::string& shown = positionals[i];
        std::error_code error;
        const auto status = std::filesystem::status(shown, error);
        if (!std::filesystem::exists(status))
            throw Failure(Fill(_("%s: no such book"), { shown }));
        if (std::filesystem::is_directory(status))
            throw Failure(Fill(_("%s: is a folder, not a book"), { shown }));
        if (std::filesystem::equivalent(shown, session.Book(), error))
            throw Failure(Fill(_("%s is the book itself"), { shown }));
        others.push_back(std::filesystem::absolute(shown).lexically_normal().string());
    }
    int added = 0, extended = 0, kept = 0, same = 0;
    for (const std::string& other : others) {
        const archive::MergeResult result
            = archive::MergeBooks(session.Book(), other, SystemTemporaryFolder(), dryRun);
        for (const archive::MergedDay& day : result.days) {
            using Change = archive::MergedDay::Change;
            const char* what = day.change == Change::Added ? N_("added %s")
                : day.change == Change::Extended           ? N_("extended %s")
                                                           : N_("kept %s");
            context.out << Fill(_(what), { ShownDate(day.member) }) << '\n';
            if (!day.pictureAside.empty())
                context.out << "  " << Fill(_("the other picture: %s"), { day.pictureAside }) << '\n';
            added += day.change == Change::Added;
            extended += day.change == Change::Extended;
            kept += day.change == Change::Kept;
        }
        same += result.same;
    }
    context.out << Fill(_("%s added, %s extended, %s kept, %s the same"),
                        { std::to_string(added), std::to_string(extended), std::to_string(kept), std::to_string(same) })
                << '\n';
    if (dryRun)
        context.out << _("dry run: nothing was written") << '\n';
    return 0;
}

} // namespace kiv::kivbook
