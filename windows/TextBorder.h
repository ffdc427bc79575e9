#pragma once

#include <QString>

#include <string>

class QLineEdit;
class QPlainTextEdit;

// The border between record texts (code page 932 bytes, CR LF line breaks)
// and the controls that show them (Unicode, '\n' line breaks).
namespace kiv {

class Prompts;

// Record text -> control text: code page 932 to Unicode, CR LF to '\n'.
QString ControlText(const std::string& cp932);

// Control text -> record text: '\n' to CR LF, Unicode to code page 932.
// Fails with kiv::Error for a character code page 932 cannot hold; the
// guarded editors never hold one.
std::string RecordText(const QString& text);

// True when code page 932 can hold every character of the text.
bool Storable(const QString& text);

// Makes the editor refuse, as typed, pasted, dropped or committed by an
// input method, any text holding a character that code page 932 cannot
// hold; each refusal beeps through the prompts. Texts the program itself
// sets are not checked. The guard lives as long as the editor.
void GuardInput(QLineEdit* edit, Prompts& prompts);
void GuardInput(QPlainTextEdit* edit, Prompts& prompts);

} // namespace kiv
