// The Qt window runtime in process: the program's windows from the image's form, unit
// properties, events with their parameters, list and status-bar commands, the menu, the timer and
// the dialogs. Handlers are stand-ins that record how they were called.
#include <QApplication>
#include <cstdio>

#include "qt_runtime_fixture.h"

int main(int argc, char** argv) {
    using namespace tessel;
    qt::PrepareApplication();
    QApplication app(argc, argv);
    QString error;
    if (!qt_test::PrepareRun(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    int failed = 0;
    for (auto run : {qt_test::RunFormWindowTests, qt_test::RunUnitCommandTests,
                     qt_test::RunEventTests, qt_test::RunDialogTests})
        failed += run(argc, argv);
    return failed == 0 ? 0 : 1;
}
