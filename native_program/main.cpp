// tessel: the program natively on Linux. The same image and handlers as Tessel.exe; the windows
// are Qt's.
#include <QApplication>
#include <QMessageBox>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "tessel/app/program.h"
#include "tessel/image/const_values.h"
#include "tessel/image/native_handlers.h"
#include "tessel/qt/runtime.h"
#include "tessel/version.h"
#include "user_catalogue.h"

extern "C" const std::uint8_t tessel_native_image[];
extern "C" const std::uint8_t tessel_native_image_end[];

namespace {

// The exit code of a command line the program does not take, as other tools give it.
constexpr int kUsageError = 2;

void PrintHelp() {
    std::printf(
        "Usage: tessel [--help | --version]\n"
        "Searches a music catalogue for songs, plays them and downloads them as MP3 files.\n"
        "\n"
        "  -h, --help     show this help and exit\n"
        "      --version  show the version and exit\n"
        "\n"
        "Settings are kept in $XDG_CONFIG_HOME/tessel/bc.ini (~/.config/tessel/bc.ini when\n"
        "XDG_CONFIG_HOME is not set): the save directory that 设置目录 chooses, and the\n"
        "catalogue's address. The catalogue is asked at %s (where tessel-catalogue\n"
        "serves by default) unless bc.ini names another host in section [服务], key 主机\n"
        "(host or host:port). When bc.ini names none and nothing answers there, Tessel\n"
        "looks for a catalogue shared on the local network (tessel-catalogue --share).\n"
        "Installed, the catalogue runs as your systemd user service tessel-catalogue and\n"
        "serves your music folder; Tessel starts it if it is not running yet.\n",
        tessel::texts::kApiHost);
}

// Answers --help and --version, and refuses any other argument: the program takes none.
// Returns the exit code, or -1 to run the program.
int AnswerCommandLine(int argc, char** argv) {
    if (argc < 2) return -1;
    const std::string_view option = argv[1];
    const bool help = option == "--help" || option == "-h";
    const bool version = option == "--version";
    if (argc == 2 && help) {
        PrintHelp();
        return 0;
    }
    if (argc == 2 && version) {
        std::printf("tessel %s\n", tessel::kVersion);
        return 0;
    }
    const char* unknown = help || version ? argv[2] : argv[1];
    std::fprintf(stderr, "tessel: unknown option or argument '%s'\nTry 'tessel --help'.\n",
                 unknown);
    return kUsageError;
}

tessel::EventHandler NativeHandler(std::uint32_t codeOffset) {
    for (const auto& h : tessel::native_handlers::kHandlers)
        if (h.codeOffset == codeOffset) return h.routine;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int code = AnswerCommandLine(argc, argv); code >= 0) return code;
    tessel::qt::PrepareApplication();
    QApplication app(argc, argv);
    tessel::qt::UseProgramLook(app);
    // Before the main window asks the local catalogue for its collections.
    tessel::qt::StartUserCatalogue();
    const std::span<const std::uint8_t> image(
        tessel_native_image,
        static_cast<std::size_t>(tessel_native_image_end - tessel_native_image));
    std::string error;
    if (!tessel::qt::Install(image, &NativeHandler, &error)) {
        QMessageBox::critical(
            nullptr, QStringLiteral("Tessel"),
            QStringLiteral("The program image cannot be loaded: ") + QString::fromStdString(error));
        return 255;
    }
    // The entry routine ends the program itself; a return ends it too.
    tessel::EntryRoutine(tessel::app::kProgramFacts);
    tessel::Services().endProgram(0);
    return 0;
}
