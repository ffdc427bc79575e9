// SPDX-License-Identifier: GPL-3.0-or-later
#include "Kivbook.h"

#include "Commands.h"
#include "ConsolePrompts.h"
#include "Error.h"
#include "ErrorGuard.h"
#include "Files.h"
#include "Interrupt.h"
#include "Language.h"
#include "TemporaryFolder.h"

#include <algorithm>
#include <ostream>

namespace kiv::kivbook {
namespace {

struct Command {
    const char* name;
    const char* synopsis; // the usage line after "kivbook "
    const char* description; // what it does, its options
    std::vector<OptionRule> options;
    std::size_t minPositionals;
    std::size_t maxPositionals;
    int (*run)(CommandContext&);
};

const OptionRule kPasswordFile { "--password-file", true, false };
const OptionRule kVerbose { "--verbose", false, false };

const std::vector<Command>& Commands()
{
    static const std::vector<Command> commands = {
        { "list", "list BOOK", N_("Prints the book's date list: one yyyy/mm/dd line per day, ascending.\n"), {}, 1, 1,
            &ListCommand },
        { "show", "show BOOK DATE [--json] [--hex] [--password-file FILE]",
            N_("Prints one day: the schedule as \"8:00 ...\" to \"18:00 ...\" lines, the memo,\n"
            "weather, temperature and diary, and the picture's kind and size.\n"
            "\n"
            "  --json                one JSON object: date, schedule (11 strings),\n"
            "                        scheduleMemo, weather, temperature, diary, and\n"
            "                        picture (kind 1 BMP or 2 JPEG, size, sha256) or null\n"
            "  --hex                 every text as the hexadecimal of its stored bytes\n"
            "                        (code page 932, CR LF line breaks)\n"
            "  --password-file FILE  the password of encrypted days: the file's first\n"
            "                        line (\"-\": standard input); else it is asked for\n"
            "                        on the terminal. At most 80 bytes in code page 932\n"
            "                        (a Japanese character takes two): a longer one is\n"
            "                        refused, never cut\n"
            "\n"
            "Control characters of the texts are shown escaped (\\x1b); --hex and\n"
            "--json give them exactly.\n"),
            { { "--json", false, false }, { "--hex", false, false }, kPasswordFile }, 2, 2, &ShowCommand },
        { "search", "search BOOK [KEYWORD [KEYWORD [KEYWORD]]] [options]",
            N_("Finds the days that hold every keyword, as the program's search window\n"
            "does: one yyyy/mm/dd line per hit in the book's order, then the number\n"
            "of hits. Keywords are compared exactly (case and width count) and may\n"
            "span the space between two fields. Odd members are skipped, each named in\n"
            "a message (see check); the exit status is then 1. A day that cannot be\n"
            "read is named with the reason and skipped as well. A search may also\n"
            "consist of tags or a period alone.\n"
            "\n"
            "  --from DATE           only the days from DATE on\n"
            "  --to DATE             only the days up to DATE (included)\n"
            "  --not WORD            leave out the days that hold WORD; may be repeated\n"
            "  --tag TAG             only the days that carry TAG (#TAG or TAG: \"#\" or\n"
            "                        \"＃\" and the characters up to a blank, 、。，．,.!?！？\n"
            "                        「」『』（）()【】[] or the line's end); tags match\n"
            "                        regardless of width and case; may be repeated\n"
            "  --fold                compare keywords and words left out regardless of\n"
            "                        width and case (ＰＣ, PC and pc; ｶﾒﾗ and カメラ)\n"
            "  --lines               each hit followed by its lines that hold a keyword\n"
            "                        or tag searched for, indented\n"
            "  --json                one JSON array of objects: date, lines\n"
            "  --password-file FILE  the password of encrypted days (see show)\n"
            "  --jobs N              read the days on N threads (default: one per\n"
            "                        core); the output is the same for every N\n"),
            { kPasswordFile, { "--jobs", true, false }, { "--from", true, false }, { "--to", true, false },
                { "--not", true, true }, { "--tag", true, true }, { "--fold", false, false },
                { "--lines", false, false }, { "--json", false, false } },
            1, 4, &SearchCommand },
        { "tags", "tags BOOK [--json] [--password-file FILE] [--jobs N]",
            N_("Lists the tags written in the book's days (\"#\" or \"＃\" and the characters\n"
            "up to a blank or punctuation, see search) with the number of days that\n"
            "carry each, most days first, then by name. Tags that differ only in width\n"
            "or case are one tag; a tag is shown in its compatibility form (NFKC), as\n"
            "first written in the book. Odd members and days that cannot be read are\n"
            "named and skipped, as search does.\n"
            "\n"
            "  --json                one JSON array of objects: tag, days\n"
            "  --password-file FILE  the password of encrypted days (see show)\n"
            "  --jobs N              read the days on N threads (see search)\n"),
            { { "--json", false, false }, kPasswordFile, { "--jobs", true, false } }, 1, 1, &TagsCommand },
        { "put", "put BOOK DATE [options]",
            N_("Writes one day into the book, replacing the day the book held for that\n"
            "date; creates the book when there is none. Fields not given stay empty.\n"
            "\n"
            "  --weather TEXT        the weather\n"
            "  --temperature TEXT    the temperature\n"
            "  --diary-file FILE     the diary: the file's text exactly (\"-\": standard\n"
            "                        input); line breaks are stored as CR LF\n"
            "  --memo-file FILE      the schedule memo, the same way\n"
            "  --schedule H=TEXT     the schedule entry for H:00, H from 8 to 18;\n"
            "                        may be given once per hour\n"
            "  --picture FILE        a .bmp, .jpg or .jpeg file, stored byte for byte\n"
            "  --encrypt[=METHOD]    encrypt the day with a password, as the program's\n"
            "                        password check box does; METHOD traditional (the\n"
            "                        default, read by every ZIP tool) or aes256\n"
            "  --password-file FILE  that password: the file's first line (\"-\": standard\n"
            "                        input); else it is asked for twice on the terminal;\n"
            "                        at most 80 bytes (see show)\n"
            "  --verbose             show the Zip library's output\n"),
            { { "--weather", true, false }, { "--temperature", true, false }, { "--diary-file", true, false },
                { "--memo-file", true, false }, { "--schedule", true, true }, { "--picture", true, false },
                { "--encrypt", false, false, true }, kPasswordFile, kVerbose },
            2, 2, &PutCommand },
        { "delete", "delete BOOK DATE [--verbose]", N_("Removes one day from the book.\n"), { kVerbose }, 2, 2,
            &DeleteCommand },
        { "repair", "repair BOOK [--verbose]",
            N_("Repairs a damaged book in place (the thorough repair): the days whose\n"
            "data can still be found are kept, damaged ones too, and listed; the old\n"
            "book stays beside it as BOOK.bak (BOOK.bak.1, ... when that exists).\n"),
            { kVerbose }, 1, 1, &RepairCommand },
        { "check", "check BOOK [--password-file FILE]",
            N_("Reads every day of the book and lists, one per line, the members that do\n"
            "not read as days, and why; then a line with the counts. Exit status 1\n"
            "when there is any. Among them the odd members, which no command reads:\n"
            "a name with a folder part (../x.DAY), a name of 512 bytes or more, a\n"
            "symbolic link, and a second member of a name the book already holds.\n"
            "Control characters of names are shown escaped (\\x1b).\n"
            "\n"
            "  --password-file FILE  the password of encrypted days (see show)\n"),
            { kPasswordFile }, 1, 1, &CheckCommand },
        { "export", "export BOOK DIR [--format markdown|html|text|json|ics|pdf] [--from DATE] [--to DATE] [--password-file FILE]",
            N_("Writes every day of the book into the new folder DIR (it must not exist,\n"
            "or be empty): one file per day (2001-03-15.md, ...) and an index of the\n"
            "days by month, in UTF-8. A picture is written beside its day byte for\n"
            "byte (.jpg, .bmp); for HTML and Markdown a BMP picture is also written as\n"
            "PNG and shown as such. On a failure nothing is left behind. Odd members\n"
            "are skipped, each named in a message (see check); the exit status is\n"
            "then 1.\n"
            "\n"
            "json, ics and pdf write one file, named after the book (diary.json):\n"
            "json holds every field of every day and its picture (base64), so that\n"
            "import gives the same days byte for byte; ics is a calendar with an\n"
            "event of one hour per filled schedule row (the memo as its description,\n"
            "in the local time zone, with UIDs that stay the same on the next export);\n"
            "pdf is a printable A4 document of the days, pictures included.\n"
            "\n"
            "  --format FORMAT       markdown (the default), html, text, json, ics or pdf\n"
            "  --from DATE           only the days from DATE on\n"
            "  --to DATE             only the days up to DATE\n"
            "  --password-file FILE  the password of encrypted days (see show)\n"),
            { { "--format", true, false }, { "--from", true, false }, { "--to", true, false }, kPasswordFile }, 2, 2,
            &ExportCommand },
        { "merge", "merge BOOK OTHER... [--dry-run] [--password-file FILE]",
            N_("Brings the days of OTHER (a copy of the book, such as a conflict copy a\n"
            "synced folder keeps beside it) into BOOK, losing nothing. A day only\n"
            "OTHER holds arrives as it is; a day both hold the same way stays. A day\n"
            "they hold differently becomes the newer version (by the member's time),\n"
            "and each text of the older that the newer does not contain is added to\n"
            "the same field: the diary's after a line\n"
            "\"――― 別の版 (yyyy/mm/dd hh:mm) ―――\". When both have a picture and they\n"
            "differ, the newer stays and the older is written beside the book as\n"
            "NAME-yyyymmdd.jpg (or .bmp). Encrypted days are compared decrypted and\n"
            "stay encrypted. OTHER is never changed; merging again changes nothing.\n"
            "Prints each day added, extended or kept (the book's version holds all),\n"
            "then the counts. The book is written under its lock, keeping NAME~.\n"
            "\n"
            "  --dry-run             tell what would change; write nothing\n"
            "  --password-file FILE  the password of encrypted days (see show)\n"),
            { { "--dry-run", false, false }, kPasswordFile }, 2, 64, &MergeCommand },
        { "import", "import BOOK SOURCE [--format FORMAT] [--dry-run] [--password-file FILE]",
            N_("Takes the days of another diary, a calendar or an export into the book;\n"
            "creates the book when there is none. Nothing the book holds is lost: a\n"
            "text the day does not already contain is added to its field (the diary\n"
            "after a blank line, schedule rows, weather and temperature after \" / \"),\n"
            "so importing twice changes nothing. The book is written once, at the end;\n"
            "malformed input is named with its file and line or entry and changes\n"
            "nothing. Characters a day cannot hold (code page 932) are left out and\n"
            "named. The output ends with the days added, extended, unchanged and the\n"
            "items skipped, each skipped one named with the reason.\n"
            "\n"
            "  --format FORMAT       what SOURCE is, told from it when not given:\n"
            "                        jrnl         jrnl's JSON export\n"
            "                        dayone       a Day One JSON export (its folder,\n"
            "                                     .zip or Journal.json): the day in the\n"
            "                                     entry's time zone, weather, the first\n"
            "                                     JPEG photo as the picture, tags as\n"
            "                                     #tag lines\n"
            "                        rednotebook  a RedNotebook data folder (YYYY-MM.txt)\n"
            "                        markdown     a folder of YYYY-MM-DD.md or .txt files,\n"
            "                                     as export writes them\n"
            "                        ics          an iCalendar file: events from 8:00 to\n"
            "                                     18:59 local time (TZ) into that hour's\n"
            "                                     row, others into the memo with their time\n"
            "                        json         export --format json (byte for byte)\n"
            "  --dry-run             tell what would change; write nothing\n"
            "  --encrypt[=METHOD]    write the imported days encrypted (see put); days\n"
            "                        read with a password are written encrypted anyway\n"
            "  --password-file FILE  the password of encrypted days (see show)\n"
            "  --verbose             show the Zip library's output\n"),
            { { "--format", true, false }, { "--dry-run", false, false }, { "--encrypt", false, false, true },
                kPasswordFile, kVerbose },
            2, 2, &ImportCommand },
        { "holidays", "holidays [FROM [TO]] [--json]",
            N_("Prints Japan's public holidays from FROM to TO, both included, one\n"
            "\"yyyy/mm/dd 名前\" line each in date order, as the calendar window colours\n"
            "them: the holidays, the substitute holidays (振替休日), the citizens'\n"
            "holidays (国民の休日) and the days appointed by laws of their own. Without\n"
            "dates: this year; FROM alone: to the end of its year. Holidays are known\n"
            "from 1948/07/20 to 2099/12/31; a range reaching beyond gives what is known,\n"
            "a message and exit status 1.\n"
            "\n"
            "  --json                one JSON array of objects: date, name\n"),
            { { "--json", false, false } }, 0, 2, &HolidaysCommand },
        { "years", "years BOOK [DATE] [--years N] [--json] [--password-file FILE]",
            N_("Prints the same day across the years, as a diary of several years shows\n"
            "it: the month and day of DATE (default today) in DATE's year and in the\n"
            "years before it, newest first. One block per year: the date line, then\n"
            "the day as show prints it, or a line saying the book holds no day of that\n"
            "date. 02/29 comes in leap years only. A day that cannot be read is named\n"
            "with the reason; the exit status is then 1.\n"
            "\n"
            "  --years N             how many years, the date's own included (default 10)\n"
            "  --json                one JSON array of the days the book holds, newest\n"
            "                        first: date, weather, temperature, memo, schedule\n"
            "                        (\"H:00\" -> text, the filled rows only), diary, and\n"
            "                        picture (kind 1 BMP or 2 JPEG, size) or null\n"
            "  --password-file FILE  the password of encrypted days (see show)\n"),
            { { "--years", true, false }, { "--json", false, false }, kPasswordFile }, 1, 2, &YearsCommand },
    };
    return commands;
}

constexpr const char* kOverview = N_("usage: kivbook COMMAND ARGUMENTS...\n"
                                  "\n"
                                  "Works on the diary books of ＫＩＶの日記 without its windows.\n"
                                  "\n"
                                  "commands:\n"
                                  "  list    BOOK                 the book's days, one yyyy/mm/dd a line\n"
                                  "  show    BOOK DATE            one day's schedule, memo, weather, temperature,\n"
                                  "                               diary and picture\n"
                                  "  search  BOOK KEYWORD...      the days that hold up to three keywords\n"
                                  "  tags    BOOK                 the book's tags and how many days carry each\n"
                                  "  put     BOOK DATE [options]  write one day into the book\n"
                                  "  delete  BOOK DATE            remove one day from the book\n"
                                  "  repair  BOOK                 repair a damaged book\n"
                                  "  check   BOOK                 read every day; list what does not read\n"
                                  "  export  BOOK DIR             every day as Markdown, HTML or text files, a\n"
                                  "                               calendar, a PDF or JSON\n"
                                  "  import  BOOK SOURCE          days of another diary, a calendar or an export\n"
                                  "  merge   BOOK OTHER...        bring the days of other copies into the book\n"
                                  "  holidays [FROM [TO]]         Japan's public holidays, one yyyy/mm/dd 名前 a\n"
                                  "                               line (this year without dates)\n"
                                  "  years   BOOK [DATE]          the same day in DATE's year and the years\n"
                                  "                               before it (today without a date)\n"
                                  "\n"
                                  "DATE is yyyy/mm/dd or yyyymmdd. Texts on the command line, in files and on\n"
                                  "the output are UTF-8. \"kivbook COMMAND --help\" tells more.\n"
                                  "\n"
                                  "exit status: 0 done, 1 a problem with the book or the day, 2 wrong usage\n");

void PrintCommandHelp(std::ostream& out, const Command& command)
{
    out << Fill(_("usage: kivbook %s"), { command.synopsis }) << "\n\n" << _(command.description);
}

int UsageFailure(std::ostream& err, const std::string& text, const Command* command)
{
    err << "kivbook: " << text << '\n';
    if (command)
        err << Fill(_("usage: kivbook %s"), { command->synopsis }) << '\n'
            << Fill(_("(kivbook %s --help tells more)"), { command->name }) << '\n';
    else
        err << _(kOverview);
    return 2;
}

int RunCommand(const Command& command, const std::vector<std::string>& words, std::ostream& out, std::ostream& err)
{
    ConsolePrompts prompts(err);
    // What a killed put left behind (never a day's text: see DayInMemory)
    // goes with the next command of any kind.
    RemoveStaleTemporaries(SystemTemporaryFolder(), kPutFolderPrefix);
    try {
        const Arguments arguments = Arguments::Parse(words, command.options);
        const std::size_t count = arguments.Positionals().size();
        if (count < command.minPositionals)
            throw UsageError(count == 0 ? _("no book given") : _("too few arguments"));
        if (count > command.maxPositionals)
            throw UsageError(_("too many arguments"));
        CommandContext context { arguments, out, prompts };
        const int status = command.run(context);
        out.flush();
        // A failure that a signal caused (the password prompt cut short)
        // reads as the interruption it was.
        if (status != 0 && InterruptRequested())
            throw Interrupted();
        return status;
    } catch (const UsageError& error) {
        out.flush();
        return UsageFailure(err, error.what(), &command);
    } catch (const Interrupted&) {
        out.flush();
        prompts.Print(_("interrupted"));
        return InterruptExitStatus();
    } catch (const Failure& error) {
        out.flush();
        prompts.Print(error.what());
    } catch (const Error& error) {
        // The program's own errors read as its general error report shows them.
        out.flush();
        prompts.Print(ErrorReportText(ProgramText(error.what())));
    } catch (const std::bad_alloc&) {
        out.flush();
        prompts.Print(_("out of memory"));
    } catch (const std::exception& error) {
        out.flush();
        prompts.Print(ProgramText(error.what()));
    }
    return 1;
}

} // namespace

int Run(const std::vector<std::string>& words, std::ostream& out, std::ostream& err)
{
    if (words.empty())
        return UsageFailure(err, _("no command given"), nullptr);
    const std::string& name = words.front();
    if (name == "--help" || name == "-h" || name == "help") {
        if (words.size() > 1) {
            for (const Command& command : Commands())
                if (words[1] == command.name) {
                    PrintCommandHelp(out, command);
                    return 0;
                }
        }
        out << _(kOverview);
        return 0;
    }
    if (name == "--version") {
        out << "kivbook " << kAppTitle << '\n'
            << "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
            << _("This is free software: you are free to change and redistribute it.\n"
                 "There is NO WARRANTY, to the extent permitted by law.\n");
        return 0;
    }
    const auto& commands = Commands();
    auto command = std::find_if(commands.begin(), commands.end(), [&](const Command& c) { return name == c.name; });
    if (command == commands.end())
        return UsageFailure(err, Fill(_("unknown command '%s'"), { name }), nullptr);
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (AsksForHelp(rest)) {
        PrintCommandHelp(out, *command);
        return 0;
    }
    return RunCommand(*command, rest, out, err);
}

} // namespace kiv::kivbook
