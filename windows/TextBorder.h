// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <string>

class QLineEdit;
class QPlainTextEdit;

// The border between record texts (code page 932 bytes, CR LF line breaks)
// and the controls that show them (Unicode, '\n' line breaks).
namespace kiv {

class FormHost;

// Record text -> control text: code page 932 to Unicode, CR LF to '\n'.
QString ControlText(const std::string& cp932);

// Control text -> record text: '\n' to CR LF, Unicode to code page 932.
// Fails with kiv::Error for a character code page 932 cannot hold; the
// filtered editors never hold one.
std::string RecordText(const QString& text);

// True when code page 932 can hold every character of the text.
bool Storable(const QString& text);

// The characters of the text that code page 932 can hold, in order; each
// one it cannot hold is added to left, once.
QString StorablePart(const QString& text, QString& left);

// The most characters a memo holds: with CR LF line breaks and two bytes a
// character, the two memos of a day stay far inside the largest day file.
inline constexpr qsizetype kMaxMemoCharacters = 16 * 1024 * 1024;

// Makes the editor take, of every text typed, pasted, dropped or committed
// by an input method, only the characters code page 932 can hold, and of a
// paste or a drop only what it holds (a line edit its maximum length, a
// memo kMaxMemoCharacters). A paste or drop of anything, nothing included,
// reaches the editor as plain text: rich text without its formatting, a
// file list as the files' names, an image not at all. When something is
// left out it beeps and names it in the status bar through the host. The
// input method's pre-edit is shown as it comes; texts the program itself
// sets are not filtered. The filter lives as long as the editor.
void FilterInput(QLineEdit* edit, FormHost& host);
void FilterInput(QPlainTextEdit* edit, FormHost& host);

} // namespace kiv
