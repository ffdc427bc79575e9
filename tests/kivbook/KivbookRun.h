// What the tests that run the built kivbook share.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// How one kivbook command ended.
struct Run {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

inline QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

inline void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}
