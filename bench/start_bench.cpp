// SPDX-License-Identifier: GPL-3.0-or-later
// The program's start with a book on its command line, until it is first
// idle (the book open, its date list filled, the day shown): prints the
// milliseconds from the entry of main.
//
//   start_bench BOOK STATE_FOLDER
//
// The working directory and settings go to STATE_FOLDER, so a user's own
// stay untouched. A question or message would be answered by the scripted
// prompts at once; the book is expected to open without one.
#include "Program.h"
#include "ScriptedPrompts.h"
#include "TDayBook.h"

#include <QAbstractEventDispatcher>
#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char* argv[])
{
    const auto start = std::chrono::steady_clock::now();
    if (argc != 3)
        return 2;
    setenv("TZ", ":/etc/localtime", 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("XDG_STATE_HOME", argv[2], 1);
    setenv("XDG_CONFIG_HOME", argv[2], 1);
    auto record = std::make_unique<kiv::TDayBook>();
    QApplication application(argc, argv);
    kiv::SetUpApplication(application);
    kiv::ScriptedPrompts prompts;
    kiv::TMainForm::Setup setup;
    setup.arguments = { QString::fromLocal8Bit(argv[1]) };
    kiv::Program program(*record, prompts, setup);
    program.MainForm().show();
    // Queued behind the first showing, which opens the book; then the first
    // time the event loop has nothing left to do ends the run.
    QMetaObject::invokeMethod(
        &application,
        [&] {
            QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                &application, [&] {
                    const double ms
                        = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                    std::printf("%.1f\n", ms);
                    std::fflush(stdout);
                    std::_Exit(prompts.messages().empty() ? 0 : 1);
                });
        },
        Qt::QueuedConnection);
    return application.exec();
}
