#pragma once

#include <QString>

// The help viewer: opens the program's own help document, when one is
// installed, at a help context. The document's content is not part of the
// program.
namespace kiv::help {

// The installed help document: "kiv/help/index.html" in the user's or the
// system's data folders, or "help/index.html" beside the program. Empty
// when none is installed.
QString HelpDocumentPath();

// The address of the document at a help context: the document with the
// fragment "context-N".
QString HelpAddress(const QString& documentPath, int context);

// Opens the help document at the help context in the desktop's viewer.
// Returns false, and shows nothing, when no document is installed.
bool ShowHelp(int context);

} // namespace kiv::help
