// tessel: the program natively on Linux. The same image and handlers as Tessel.exe; the windows
// are Qt's.
#include <QApplication>
#include <QMessageBox>

#include <cstdint>
#include <span>
#include <string>

#include "tessel/image/native_handlers.h"
#include "tessel/qt/runtime.h"
#include "tessel/runtime/program.h"

extern "C" const std::uint8_t tessel_native_image[];
extern "C" const std::uint8_t tessel_native_image_end[];

namespace {

tessel::EventHandler NativeHandler(std::uint32_t codeOffset) {
    for (const auto& h : tessel::native_handlers::kHandlers)
        if (h.codeOffset == codeOffset) return h.routine;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    tessel::qt::PrepareApplication();
    QApplication app(argc, argv);
    tessel::qt::UseProgramLook(app);
    const std::span<const std::uint8_t> image(
        tessel_native_image, static_cast<std::size_t>(tessel_native_image_end - tessel_native_image));
    std::string error;
    if (!tessel::qt::Install(image, &NativeHandler, &error)) {
        QMessageBox::critical(nullptr, QStringLiteral("Tessel"),
                              QStringLiteral("The program image cannot be loaded: ") +
                                  QString::fromStdString(error));
        return 255;
    }
    // The entry routine ends the program itself; a return ends it too.
    tessel::EntryRoutine();
    tessel::Services().endProgram(0);
    return 0;
}
