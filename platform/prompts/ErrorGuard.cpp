// SPDX-License-Identifier: GPL-3.0-or-later
#include "ErrorGuard.h"

#include <exception>
#include <new>

namespace kiv {

std::string ErrorReportText(const std::string& text)
{
    // The last character's first byte decides: any byte of a multi-byte
    // UTF-8 character sorts after '.', as a double-byte character does.
    std::string report = text;
    if (!report.empty() && static_cast<unsigned char>(report.back()) > '.')
        report.push_back('.');
    return report;
}

void ShowErrorReport(Prompts& prompts, const std::string& text)
{
    prompts.Message(Icon::Error, kAppTitle, ErrorReportText(text), Buttons::Ok);
}

bool Guarded(Prompts& prompts, const std::function<void()>& body)
{
    std::string text;
    try {
        body();
        return true;
    } catch (const std::bad_alloc&) {
        text = "メモリが不足しています";
    } catch (const std::exception& error) {
        text = error.what();
    } catch (...) {
        text = "予期しないエラーが発生しました";
    }
    try {
        ShowErrorReport(prompts, text);
    } catch (...) {
        // The report itself failed; nothing more can be shown.
    }
    return false;
}

} // namespace kiv
