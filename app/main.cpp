#include "Files.h"
#include "Program.h"
#include "Prompts.h"
#include "QtPrompts.h"
#include "TDayBook.h"
#include "zip32.h"

#include <QApplication>

#include <cstdlib>
#include <memory>

int main(int argc, char* argv[])
{
#ifndef _WIN32
    // Without TZ the C library looks the zone up again on every local time
    // conversion; the dates shown are those of the system's zone either way.
    if (!std::getenv("TZ"))
        setenv("TZ", ":/etc/localtime", 1);
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
