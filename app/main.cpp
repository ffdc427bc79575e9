// SPDX-License-Identifier: GPL-3.0-or-later
#include "Files.h"
#include "Program.h"
#include "Prompts.h"
#include "QtPrompts.h"
#include "TDayBook.h"
#include "zip32.h"

#include <QApplication>

#include <cstdlib>
#include <memory>

#ifdef __linux__
#include <sys/prctl.h>
#endif

int main(int argc, char* argv[])
{
#ifndef _WIN32
    // Without TZ the C library looks the zone up again on every local time
    // conversion; the dates shown are those of the system's zone either way.
    if (!std::getenv("TZ"))
        setenv("TZ", ":/etc/localtime", 1);
#endif
#ifdef __linux__
    // The diary is in this process's memory as plain text for the whole run
    // (the editors show the day, the password dialog keeps the password), in
    // copies that no code of ours can wipe: a crash leaves no core file, and
    // other processes of the user cannot read the memory.
    ::prctl(PR_SET_DUMPABLE, 0);
#endif
    // A day file or a book half written when the program is told to end
    // goes with it. The book library holds its own copy of the list of
    // temporaries, so both are asked.
    kiv::RemoveTemporariesOnSignals();
    ZpRemoveTemporariesOnSignals();

    // The day record exists before any window and outlives them all.
    auto record = std::make_unique<kiv::TDayBook>();

    QApplication application(argc, argv);
    kiv::SetUpApplication(application);

    kiv::QtPrompts prompts;
    kiv::TMainForm::Setup setup;
    setup.arguments = application.arguments().mid(1);
    kiv::Program program(*record, prompts, setup);
    prompts.setParentWindow(&program.MainForm());
    QObject::connect(
        &program.MainForm(), &kiv::TMainForm::closed, &application, &QApplication::quit, Qt::QueuedConnection);
    program.MainForm().show();
    return application.exec();
}
