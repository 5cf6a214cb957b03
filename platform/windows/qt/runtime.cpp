// The runtime's service table: the window core's over this toolkit, the host's message boxes,
// clipboard, sound and folder dialog, and everything else the headless runtime's (libcurl, MuJS,
// iconv, the POSIX kernel commands, the built-in transfer library).
#include "tessel/window_runtime/runtime.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

#include "runtime_state.h"
#include "tessel/headless/headless.h"
#include "tessel/image/image.h"
#include "tessel/posix/standins.h"
#include "window_state.h"

namespace tessel::qt {

namespace {

image::Form g_form;  // the windows the core loads from
HandlerLookup g_handlers = nullptr;
const ServiceTable* g_headless = nullptr;
const ServiceTable* g_table = nullptr;

class QtHost final : public windows::RuntimeHost {
  public:
    bool RunSystemCommand(std::uint32_t command, std::uint32_t n, const Value* args,
                          Value* result) override {
        return qt::RunSystemCommand(command, n, args, result);
    }
    void RunLibraryCommand(std::uint32_t row, std::uint32_t command, std::uint32_t n,
                           const Value* args, Value* result) override {
        if (row == row::kVestry)
            RunVestryCommand(command, n, args, result);
        else
            g_headless->libraryCommand(row, command, n, args, result);
    }
    void RunMessageLoop() override {
        // The loop ends when the main window is destroyed, not when the last window is closed.
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::exec();
    }
    void ShowRuntimeError(const std::string& message) override {
        std::fprintf(stderr, "%s\n", message.c_str());
        QMessageBox::critical(ActiveProgramWindow(), QStringLiteral("Tessel"),
                              QString::fromUtf8(message));
    }
    // Qt's objects still live on the caller's stack: the process ends without unwinding them.
    [[noreturn]] void EndProcess(std::int32_t exitCode) override { std::_Exit(exitCode); }
};

QtToolkit g_toolkit;
QtHost g_host;

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

windows::WindowCore& Windows() {
    static windows::WindowCore core(g_toolkit, g_form);
    return core;
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
    g_form = std::move(decoded.form);

    g_headless = headless::Install();
    g_table = &windows::InstallWindowRuntime(*g_headless, Windows(), g_host, &g_toolkit);
    InstallServices(g_table);
    // The program keeps bc.ini in "its directory": natively that is the user's settings folder.
    posix::System().programDirectory = ToGbk(QString::fromStdString(SettingsDirectory()));
    return true;
}

const ServiceTable& RuntimeServices() {
    static const ServiceTable notInstalled{};
    return g_table != nullptr ? *g_table : notInstalled;
}

}  // namespace tessel::qt
