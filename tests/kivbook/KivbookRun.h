// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests that run the built kivbook share.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
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

// Gives a started kivbook its input and waits for it to end.
inline Run Finish(QProcess& process, const QByteArray& input)
{
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        qFatal("kivbook does not end");
    Run run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
