// The runtime's service table: windows are this runtime's, everything else the headless
// runtime's (libcurl, MuJS, iconv, the POSIX kernel commands, the built-in transfer library).
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

#include "player_widget.h"
#include "runtime_state.h"
#include "tessel/image/image.h"
#include "tessel/platform/headless.h"
#include "tessel/platform/kernel_commands.h"
#include "tessel/platform/standins.h"
#include "window_state.h"

namespace tessel::qt {

namespace {

LoadedProgram g_program;
HandlerLookup g_handlers = nullptr;
const ServiceTable* g_headless = nullptr;
bool g_ending = false;

void StopPlayers() {
    for (const auto& window : g_program.form.windows)
        for (const auto& record : window.units)
            if (UnitState* u = FindUnit(window.id, record.id); u != nullptr && u->player != nullptr)
                u->player->Stop();
}

// Runs the registered clean-up once, whichever way the program ends.
[[noreturn]] void EndOnce(std::int32_t exitCode) {
    if (!g_ending) {
        g_ending = true;
        StopPlayers();
        headless::RunAtExitRoutines();
    }
    std::fflush(nullptr);
    // Qt's objects still live on the caller's stack: the process ends without unwinding them.
    std::_Exit(exitCode);
}

[[noreturn]] void RuntimeError(std::int32_t code) {
    static bool reporting = false;
    if (!reporting) {
        reporting = true;
        const QString text = QStringLiteral("Runtime error %1: %2.")
                                 .arg(code)
                                 .arg(QString::fromUtf8(headless::RuntimeErrorText(code)));
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        QMessageBox::critical(ActiveProgramWindow(), QStringLiteral("Tessel"), text);
    }
    EndOnce(100 + code);
}

void LibraryCommand(std::uint32_t row, std::uint32_t command, std::uint32_t n, const Value* args,
                    Value* result) {
    *result = OmittedValue();
    switch (row) {
        case row::kFacet:
            RunFacetCommand(command, n, args, result);
            return;
        case row::kVestry:
            RunVestryCommand(command, n, args, result);
            return;
        case row::kMediaPlayer:
            RunPlayerCommand(command, n, args, result);
            return;
        default:
            g_headless->libraryCommand(row, command, n, args, result);
            return;
    }
}

void KernelCommand(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    *result = OmittedValue();
    if (platform::RunPortableKernelCommand(command, n, args, result)) return;
    if (RunWindowCommand(command, n, args, result)) return;
    if (RunSystemCommand(command, n, args, result)) return;
    if (headless::RunSystemCommand(command, n, args, result)) return;
    if (headless::RunObjectCommand(command, n, args, result)) return;
    RuntimeError(runtime_error::kUnexpectedType);
}

void EndProgram(std::int32_t exitCode) {
    EndOnce(exitCode);
}

void MessageLoop() {
    // The loop ends when the main window is destroyed, not when the last window is closed.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::exec();
}

void LoadAndShow(std::uint32_t windowId) {
    LoadWindow(windowId, true);
}

ServiceTable g_table{};

// Every handler the form binds must be one the program has.
bool CheckHandlers(const image::Form& form, std::string* error) {
    const auto known = [](std::uint32_t offset) {
        return offset == image::kNone || g_handlers(offset) != nullptr;
    };
    for (const auto& window : form.windows) {
        for (const auto& unit : window.units) {
            bool ok = true;
            for (const auto& e : unit.events) ok = ok && known(e.codeOffset);
            if (const auto* item = std::get_if<image::MenuItemProperties>(&unit.properties))
                ok = ok && known(item->clickHandler);
            if (!ok) {
                *error = "unit " + std::to_string(unit.id) + " names a handler the program lacks";
                return false;
            }
        }
    }
    return true;
}

}  // namespace

LoadedProgram& Program() {
    return g_program;
}

EventHandler LookUpHandler(std::uint32_t codeOffset) {
    return g_handlers != nullptr ? g_handlers(codeOffset) : nullptr;
}

bool Install(std::span<const std::uint8_t> bytes, HandlerLookup handlers, std::string* error) {
    auto read = image::ReadImage(bytes);
    if (!read.ok) {
        *error = read.error;
        return false;
    }
    const image::Section* form = read.image.Find("form");
    if (form == nullptr) {
        *error = "the image has no form section";
        return false;
    }
    auto decoded = image::DecodeForm(form->data);
    if (!decoded.ok || decoded.form.windows.empty()) {
        *error = decoded.ok ? "the form holds no window" : decoded.error;
        return false;
    }
    g_handlers = handlers;
    if (handlers == nullptr || !CheckHandlers(decoded.form, error)) return false;
    DiscardWindows();
    g_program.form = std::move(decoded.form);

    g_headless = headless::Install();
    g_table = *g_headless;
    g_table.runtimeError = &RuntimeError;
    g_table.libraryCommand = &LibraryCommand;
    g_table.kernelCommand = &KernelCommand;
    g_table.readUnitProperty = &ReadUnitProperty;
    g_table.writeUnitProperty = &WriteUnitProperty;
    g_table.endProgram = &EndProgram;
    g_table.messageLoop = &MessageLoop;
    g_table.loadAndShowWindow = &LoadAndShow;
    InstallServices(&g_table);
    // The program keeps bc.ini in "its directory": natively that is the user's settings folder.
    posix::System().programDirectory = ToGbk(QString::fromStdString(SettingsDirectory()));
    return true;
}

const ServiceTable& RuntimeServices() {
    return g_table;
}

}  // namespace tessel::qt
