#include "WorkingDirectory.h"

#include "Registry.h"

#include <QDir>

#include <cstdlib>

namespace kiv {

std::string FallbackWorkingDirectory()
{
#ifdef _WIN32
    return QDir::toNativeSeparators(QDir::currentPath()).toStdString();
#else
    QString base = QString::fromLocal8Bit(std::getenv("XDG_STATE_HOME"));
    if (base.isEmpty())
        base = QDir::homePath() + "/.local/state";
    const QString folder = base + "/kiv/work";
    QDir().mkpath(folder);
    return folder.toStdString();
#endif
}

std::string FindWorkingDirectory()
{
    if (auto value = registry::ReadClassesRootText("KIV_FILE", "InstDir"))
        return *value;
    return FallbackWorkingDirectory();
}

} // namespace kiv
