// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExportDocuments.h"

#include "Prompts.h"
#include "TextForms.h"

namespace kiv::kivbook {
namespace {

constexpr const char* kScheduleTitle = "予定表";
constexpr const char* kTimeHeading = "時間";
constexpr const char* kEntryHeading = "記事";
constexpr const char* kMemoTitle = "メモ";
constexpr const char* kDiaryTitle = "日記";
constexpr const char* kPictureTitle = "画像";
constexpr const char* kIndexTitle = "目次";

std::string Hour(int row)
{
    return std::to_string(row + 7) + ":00";
}

bool HasSchedule(const DayDocument& day)
{
    for (const std::string& entry : day.schedule)
        if (!entry.empty())
            return true;
    return false;
}

// "天気：晴れ　温度：25", or empty when the day has neither.
std::string WeatherLine(const DayDocument& day)
{
    std::string line;
    if (!day.weather.empty())
        line += "天気：" + day.weather;
    if (!day.temperature.empty())
        line += (line.empty() ? "" : "\u3000") + std::string("温度：") + day.temperature;
    return line;
}

std::string PictureSummary(const DayDocument& day)
{
    return day.pictureKind + "、" + std::to_string(day.pictureSize) + " バイト";
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (true) {
        std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return lines;
        start = end + 1;
    }
}

// ---- Markdown ----

std::string MarkdownCell(const std::string& text)
{
    std::string cell;
    for (const std::string& line : Lines(text))
        cell += (cell.empty() ? "" : "<br>") + MarkdownEscaped(line);
    return cell;
}

std::string MarkdownDay(const DayDocument& day)
{
    std::string md = "[" + std::string(kIndexTitle) + "](" + day.indexFile + ")";
    if (!day.previous.file.empty())
        md += " · [← " + MarkdownEscaped(day.previous.title) + "](" + day.previous.file + ")";
    if (!day.next.file.empty())
        md += " · [" + MarkdownEscaped(day.next.title) + " →](" + day.next.file + ")";
    md += "\n\n# " + MarkdownEscaped(day.title) + "\n";

    if (HasSchedule(day) || !day.memo.empty()) {
        md += "\n## " + std::string(kScheduleTitle) + "\n";
        if (HasSchedule(day)) {
            md += "\n| " + std::string(kTimeHeading) + " | " + kEntryHeading + " |\n|---:|:---|\n";
            for (int row = 1; row <= 11; ++row)
                md += "| " + Hour(row) + " | " + MarkdownCell(day.schedule[row - 1]) + " |\n";
        }
        if (!day.memo.empty())
            md += "\n### " + std::string(kMemoTitle) + "\n\n" + MarkdownEscaped(day.memo) + "\n";
    }
    const std::string weather = WeatherLine(day);
    if (!weather.empty() || !day.diary.empty()) {
        md += "\n## " + std::string(kDiaryTitle) + "\n";
        if (!weather.empty())
            md += "\n" + MarkdownEscaped(weather) + "\n";
        if (!day.diary.empty())
            md += "\n" + MarkdownEscaped(day.diary) + "\n";
    }
    if (!day.pictureFile.empty()) {
        md += "\n## " + std::string(kPictureTitle) + "\n\n![" + MarkdownEscaped(day.title) + " の画像]("
            + day.pictureFile + ")\n";
        const std::string& original = day.originalFile.empty() ? day.pictureFile : day.originalFile;
        md += "\n元の画像：[" + MarkdownEscaped(original) + "](" + original + ")（" + PictureSummary(day) + "）\n";
    } else if (!day.pictureNote.empty()) {
        md += "\n## " + std::string(kPictureTitle) + "\n\n" + MarkdownEscaped(day.pictureNote) + "\n";
    }
    return md;
}

std::string MarkdownIndex(const std::string& bookName, const std::vector<IndexEntry>& entries)
{
    std::string md = "# " + MarkdownEscaped(bookName) + "\n";
    std::string group;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& entry = entries[i];
        if (i == 0 || entry.group != group) {
            group = entry.group;
            md += "\n## " + MarkdownEscaped(group) + "\n\n";
        }
        md += "- [" + MarkdownEscaped(entry.title) + "](" + entry.file + ")";
        if (!entry.summary.empty())
            md += " " + MarkdownEscaped(entry.summary);
        if (entry.picture)
            md += "（画像）";
        md += "\n";
    }
    return md;
}

// ---- HTML ----

constexpr const char* kStyle = "body{font-family:sans-serif;max-width:48em;margin:2em auto;padding:0 1em;"
                               "line-height:1.6}"
                               "table{border-collapse:collapse}th,td{border:1px solid #999;padding:.2em .6em;"
                               "vertical-align:top}th{background:#eee}td.time{text-align:right;white-space:nowrap}"
                               ".text{white-space:pre-wrap}nav a{margin-right:1em}img{max-width:100%}"
                               "ul{list-style:none;padding-left:0}";

std::string HtmlPage(const std::string& title, const std::string& body)
{
    return "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + HtmlEscaped(title)
        + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n" + body + "</body>\n</html>\n";
}

std::string HtmlText(const std::string& text)
{
    return "<div class=\"text\">" + HtmlEscaped(text) + "</div>\n";
}

std::string HtmlDay(const DayDocument& day)
{
    std::string body = "<nav><a href=\"" + HtmlEscaped(day.indexFile) + "\">" + kIndexTitle + "</a>";
    if (!day.previous.file.empty())
        body += "<a href=\"" + HtmlEscaped(day.previous.file) + "\">← " + HtmlEscaped(day.previous.title) + "</a>";
    if (!day.next.file.empty())
        body += "<a href=\"" + HtmlEscaped(day.next.file) + "\">" + HtmlEscaped(day.next.title) + " →</a>";
    body += "</nav>\n<h1>" + HtmlEscaped(day.title) + "</h1>\n";

    if (HasSchedule(day) || !day.memo.empty()) {
        body += "<h2>" + std::string(kScheduleTitle) + "</h2>\n";
        if (HasSchedule(day)) {
            body += "<table>\n<thead><tr><th>" + std::string(kTimeHeading) + "</th><th>" + kEntryHeading
                + "</th></tr></thead>\n<tbody>\n";
            for (int row = 1; row <= 11; ++row)
                body += "<tr><td class=\"time\">" + Hour(row) + "</td><td class=\"text\">"
                    + HtmlEscaped(day.schedule[row - 1]) + "</td></tr>\n";
            body += "</tbody>\n</table>\n";
        }
        if (!day.memo.empty())
            body += "<h3>" + std::string(kMemoTitle) + "</h3>\n" + HtmlText(day.memo);
    }
    const std::string weather = WeatherLine(day);
    if (!weather.empty() || !day.diary.empty()) {
        body += "<h2>" + std::string(kDiaryTitle) + "</h2>\n";
        if (!weather.empty())
            body += "<p>" + HtmlEscaped(weather) + "</p>\n";
        if (!day.diary.empty())
            body += HtmlText(day.diary);
    }
    if (!day.pictureFile.empty()) {
        const std::string& original = day.originalFile.empty() ? day.pictureFile : day.originalFile;
        body += "<h2>" + std::string(kPictureTitle) + "</h2>\n<p><img src=\"" + HtmlEscaped(day.pictureFile)
            + "\" alt=\"" + HtmlEscaped(day.title) + " の画像\"></p>\n<p>元の画像：<a href=\"" + HtmlEscaped(original)
            + "\">" + HtmlEscaped(original) + "</a>（" + HtmlEscaped(PictureSummary(day)) + "）</p>\n";
    } else if (!day.pictureNote.empty()) {
        body += "<h2>" + std::string(kPictureTitle) + "</h2>\n<p>" + HtmlEscaped(day.pictureNote) + "</p>\n";
    }
    return HtmlPage(day.title + " — " + kAppTitle, body);
}

std::string HtmlIndex(const std::string& bookName, const std::vector<IndexEntry>& entries)
{
    std::string body = "<h1>" + HtmlEscaped(bookName) + "</h1>\n";
    std::string group;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& entry = entries[i];
        if (i == 0 || entry.group != group) {
            if (i != 0)
                body += "</ul>\n";
            group = entry.group;
            body += "<h2>" + HtmlEscaped(group) + "</h2>\n<ul>\n";
        }
        body += "<li><a href=\"" + HtmlEscaped(entry.file) + "\">" + HtmlEscaped(entry.title) + "</a>";
        if (!entry.summary.empty())
            body += " " + HtmlEscaped(entry.summary);
        if (entry.picture)
            body += "（画像）";
        body += "</li>\n";
    }
    if (!entries.empty())
        body += "</ul>\n";
    return HtmlPage(bookName + " — " + kAppTitle, body);
}

// ---- Plain text ----

std::string Indented(const std::string& text)
{
    std::string out;
    for (const std::string& line : Lines(text))
        out += "  " + line + "\n";
    return out;
}

std::string Underlined(const std::string& title, char rule)
{
    // Full-width characters take two columns: count UTF-8 lead bytes of
    // three bytes and more twice.
    std::size_t columns = 0;
    for (unsigned char c : title) {
        if ((c & 0xC0) == 0x80)
            continue;
        columns += c >= 0xE0 ? 2 : 1;
    }
    return title + "\n" + std::string(columns, rule) + "\n";
}

std::string TextDay(const DayDocument& day)
{
    std::string text = Underlined(day.title, '=');
    if (HasSchedule(day) || !day.memo.empty()) {
        text += "\n" + Underlined(kScheduleTitle, '-');
        if (HasSchedule(day)) {
            for (int row = 1; row <= 11; ++row) {
                std::string hour = Hour(row);
                hour.insert(0, 5 - hour.size(), ' ');
                // Further lines of an entry line up under its first.
                std::string entry;
                for (const std::string& line : Lines(day.schedule[row - 1]))
                    entry += (entry.empty() ? "" : "\n        ") + line;
                text += hour + " |" + (entry.empty() ? "" : " " + entry) + "\n";
            }
        }
        if (!day.memo.empty())
            text += "\n" + std::string(kMemoTitle) + "：\n" + Indented(day.memo);
    }
    const std::string weather = WeatherLine(day);
    if (!weather.empty() || !day.diary.empty()) {
        text += "\n" + Underlined(kDiaryTitle, '-');
        if (!weather.empty())
            text += weather + "\n";
        if (!day.diary.empty())
            text += "\n" + day.diary + (day.diary.back() == '\n' ? "" : "\n");
    }
    if (!day.pictureFile.empty())
        text += "\n" + std::string(kPictureTitle) + "：" + day.pictureFile + "（" + PictureSummary(day) + "）\n";
    else if (!day.pictureNote.empty())
        text += "\n" + std::string(kPictureTitle) + "：" + day.pictureNote + "\n";
    return text;
}

std::string TextIndex(const std::string& bookName, const std::vector<IndexEntry>& entries)
{
    std::string text = Underlined(bookName, '=');
    std::string group;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& entry = entries[i];
        if (i == 0 || entry.group != group) {
            group = entry.group;
            text += "\n" + group + "\n";
        }
        text += "  " + entry.title + "  " + entry.file;
        if (!entry.summary.empty())
            text += "  " + entry.summary;
        if (entry.picture)
            text += "（画像）";
        text += "\n";
    }
    return text;
}

} // namespace

const char* ExportExtension(ExportFormat format)
{
    switch (format) {
    case ExportFormat::Markdown:
        return ".md";
    case ExportFormat::Html:
        return ".html";
    case ExportFormat::Text:
        return ".txt";
    }
    return "";
}

std::string RenderDay(ExportFormat format, const DayDocument& day)
{
    switch (format) {
    case ExportFormat::Markdown:
        return MarkdownDay(day);
    case ExportFormat::Html:
        return HtmlDay(day);
    case ExportFormat::Text:
        return TextDay(day);
    }
    return {};
}

std::string RenderIndex(ExportFormat format, const std::string& bookName, const std::vector<IndexEntry>& entries)
{
    switch (format) {
    case ExportFormat::Markdown:
        return MarkdownIndex(bookName, entries);
    case ExportFormat::Html:
        return HtmlIndex(bookName, entries);
    case ExportFormat::Text:
        return TextIndex(bookName, entries);
    }
    return {};
}

} // namespace kiv::kivbook
