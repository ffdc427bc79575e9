#include "Help.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace kiv::help {

QString HelpDocumentPath()
{
    const QString installed = QStandardPaths::locate(QStandardPaths::GenericDataLocation, "kiv/help/index.html");
    if (!installed.isEmpty())
        return installed;
    const QString beside = QCoreApplication::applicationDirPath() + "/help/index.html";
    if (QFileInfo(beside).isFile())
        return beside;
    return {};
}

QString HelpAddress(const QString& documentPath, int context)
{
    QUrl url = QUrl::fromLocalFile(documentPath);
    url.setFragment(QStringLiteral("context-%1").arg(context));
    return url.toString();
}

bool ShowHelp(int context)
{
    const QString document = HelpDocumentPath();
    if (document.isEmpty())
        return false;
    return QDesktopServices::openUrl(QUrl(HelpAddress(document, context)));
}

} // namespace kiv::help
