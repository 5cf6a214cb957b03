// Tessel.exe's start, seen from a Windows parent process: which runtime library it loads and
// from where, what it hands the start routine, and how every failure ends (the error box, found
// and closed here, and exit code 0xFFFFFFFF). The program is copied into scratch folders beside
// stand-in runtime libraries (fake_runtime.cpp), and the installation directory is set in this
// Wine prefix's registry; the CTest resource lock keeps other tests off that key meanwhile.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kInstallKey[] = L"Software\\Brightloom\\Quill\\Install";
constexpr char kErrorText[] = "Not found the kernel library or the kernel library is invalid!";

// The stand-in runtime libraries, built beside this test and Tessel.exe.
constexpr char kStarts[] = "fake_runtime_starts.dll";
constexpr char kRefuses[] = "fake_runtime_refuses.dll";
constexpr char kWithoutExport[] = "fake_runtime_without_export.dll";

fs::path BinDirectory() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path();
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A scratch folder of one case, removed afterwards.
class Scratch {
  public:
    Scratch() {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        static int counter = 0;
        root_ = fs::path(temp) / ("tessel-launcher-" + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(++counter));
        fs::create_directories(root_);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    const fs::path& root() const { return root_; }

    // A folder below the root whose full path has exactly `length` characters (at least the
    // root's length plus two).
    fs::path FolderOfLength(std::size_t length) const {
        fs::path folder = root_;
        while (folder.native().size() < length) {
            const std::size_t left = length - folder.native().size() - 1;  // less the backslash
            const std::size_t part = left > 60 ? 50 : left;
            folder /= std::string(part, 'd');
        }
        fs::create_directories(folder);
        return folder;
    }

    // Tessel.exe copied into `folder`, optionally with a runtime as basalt.fnr beside it.
    fs::path PlaceProgram(const fs::path& folder, const char* besideRuntime = nullptr) const {
        fs::create_directories(folder);
        fs::copy_file(BinDirectory() / "Tessel.exe", folder / "Tessel.exe",
                      fs::copy_options::overwrite_existing);
        if (besideRuntime != nullptr) PlaceRuntime(besideRuntime, folder / "basalt.fnr");
        return folder / "Tessel.exe";
    }
    static void PlaceRuntime(const char* runtime, const fs::path& as) {
        fs::create_directories(as.parent_path());
        fs::copy_file(BinDirectory() / runtime, as, fs::copy_options::overwrite_existing);
    }

  private:
    fs::path root_;
};

// The installation key in HKEY_CURRENT_USER, removed before and after every case.
void RemoveInstallKey() {
    RegDeleteKeyW(HKEY_CURRENT_USER, kInstallKey);
}
void CreateInstallKey() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kInstallKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}
// "Path" with these exact bytes and type.
void SetInstallPath(const std::string& bytes, DWORD type) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kInstallKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Path", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}
void SetInstallPath(const std::string& text) {
    SetInstallPath(std::string(text.c_str(), text.size() + 1), REG_SZ);
}

struct Outcome {
    DWORD exitCode = 0;
    bool errorBox = false;
    std::string boxText;
    int boxButtons = 0;
    std::vector<std::string> log;
};

struct BoxSearch {
    DWORD processId;
    HWND box;
};

BOOL CALLBACK FindErrorBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[32] = {}, title[32] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (owner == search->processId && std::string(className) == "#32770" &&
        std::string(title) == "Error" && IsWindowVisible(window)) {
        search->box = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK ReadBoxControl(HWND control, LPARAM param) {
    auto* outcome = reinterpret_cast<Outcome*>(param);
    char className[32] = {}, text[256] = {};
    GetClassNameA(control, className, sizeof className);
    GetWindowTextA(control, text, sizeof text);
    if (!IsWindowVisible(control)) return TRUE;
    if (Lower(className) == "button") ++outcome->boxButtons;
    if (Lower(className) == "static" && text[0] != '\0') outcome->boxText = text;
    return TRUE;
}

std::vector<std::string> ReadLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Starts the program, answers an error box the way a user would (OK), waits for its end.
Outcome RunProgram(const fs::path& program, const fs::path& log) {
    Outcome outcome;
    SetEnvironmentVariableW(L"TESSEL_LAUNCHER_LOG", log.c_str());
    std::wstring commandLine = L"\"" + program.native() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        program.parent_path().c_str(), &startup, &process)) {
        ADD_FAILURE() << "cannot start " << program.string();
        return outcome;
    }
    const DWORD deadline = GetTickCount() + 60000;
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        BoxSearch search{process.dwProcessId, nullptr};
        EnumWindows(&FindErrorBox, reinterpret_cast<LPARAM>(&search));
        if (search.box != nullptr && !outcome.errorBox) {
            outcome.errorBox = true;
            EnumChildWindows(search.box, &ReadBoxControl, reinterpret_cast<LPARAM>(&outcome));
            PostMessageW(search.box, WM_COMMAND, IDOK, 0);
        }
        if (GetTickCount() > deadline) {
            ADD_FAILURE() << "the program did not end; killed";
            TerminateProcess(process.hProcess, 99);
        }
    }
    GetExitCodeProcess(process.hProcess, &outcome.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    outcome.log = ReadLines(log);
    return outcome;
}

std::string Loaded(const fs::path& runtime) {
    return Lower("loaded " + runtime.string());
}

class Launcher : public ::testing::Test {
  protected:
    void SetUp() override { RemoveInstallKey(); }
    void TearDown() override { RemoveInstallKey(); }

    Outcome RunAndLowerLoaded(const fs::path& program) {
        Outcome o = RunProgram(program, scratch_.root() / "runtime.log");
        for (auto& line : o.log)
            if (line.rfind("loaded ", 0) == 0) line = Lower(line);
        return o;
    }
    // A program that starts: no box, exit code 0, and the runtime at `runtime` got the image.
    void ExpectStartedThrough(const Outcome& o, const fs::path& runtime) {
        EXPECT_FALSE(o.errorBox) << o.boxText;
        EXPECT_EQ(o.exitCode, 0u);
        const std::vector<std::string> expected = {Loaded(runtime), "GetNewSock 1000",
                                                   "start image ok", "unloaded process-end"};
        EXPECT_EQ(o.log, expected);
    }

    Scratch scratch_;
};

TEST_F(Launcher, ARuntimeBesideTheProgramIsUsedAndTheRegistryNeverRead) {
    // The installation directory names a runtime that would fail: it is never reached.
    const fs::path install = scratch_.root() / "install";
    Scratch::PlaceRuntime(kWithoutExport, install / "basalt.fne");
    SetInstallPath(install.string());
    const fs::path program = scratch_.PlaceProgram(scratch_.root() / "program", kStarts);
    ExpectStartedThrough(RunAndLowerLoaded(program), program.parent_path() / "basalt.fnr");
}

TEST_F(Launcher, AProgramInADeepFolderStillFindsTheRuntimeBesideIt) {
    const fs::path program = scratch_.PlaceProgram(scratch_.FolderOfLength(200), kStarts);
    ASSERT_GT(program.native().size(), 127u);
    ExpectStartedThrough(RunAndLowerLoaded(program), program.parent_path() / "basalt.fnr");
}

TEST_F(Launcher, TheInstallationDirectoryLeadsToTheSameRuntimeWithOrWithoutItsBackslash) {
    const fs::path install = scratch_.root() / "install";
    Scratch::PlaceRuntime(kStarts, install / "basalt.fne");
    struct Case {
        const char* name;
        std::string stored;
        DWORD type;
        std::size_t programFolderLength;  // 0: a short one
    };
    const std::string dir = install.string();
    const Case cases[] = {
        {"without backslash", dir + '\0', REG_SZ, 0},
        {"with backslash", dir + "\\" + '\0', REG_SZ, 0},
        {"without backslash, program path over 127", dir + '\0', REG_SZ, 160},
        {"with backslash, program path over 127", dir + "\\" + '\0', REG_SZ, 160},
        // The value's type is not looked at; bytes stored without a NUL end where they end.
        {"binary without NUL", dir, REG_BINARY, 0},
        {"expandable text", dir + '\0', REG_EXPAND_SZ, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetInstallPath(c.stored, c.type);
        const fs::path folder = c.programFolderLength == 0
                                    ? scratch_.root() / ("program" + std::to_string(++n))
                                    : scratch_.FolderOfLength(c.programFolderLength);
        const fs::path program = scratch_.PlaceProgram(folder);
        if (c.programFolderLength != 0) {
            ASSERT_GT(program.native().size(), 127u);
        }
        fs::remove(scratch_.root() / "runtime.log");
        ExpectStartedThrough(RunAndLowerLoaded(program), install / "basalt.fne");
        fs::remove(program);
    }
}

TEST_F(Launcher, TheLongestInstallationDirectoryThatFitsIsUsed) {
    // 248 characters, a backslash and "basalt.fne": 259 characters and the NUL fill the buffer.
    const fs::path install = scratch_.FolderOfLength(248);
    Scratch::PlaceRuntime(kStarts, install / "basalt.fne");
    SetInstallPath(install.string());
    const fs::path program = scratch_.PlaceProgram(scratch_.root() / "program");
    ExpectStartedThrough(RunAndLowerLoaded(program), install / "basalt.fne");
}

TEST_F(Launcher, EveryFailureEndsInTheErrorBoxAndExitCodeMinusOne) {
    const fs::path install = scratch_.root() / "install";
    const std::string dir = install.string();
    const fs::path beside = scratch_.root() / "program" / "basalt.fnr";
    const fs::path installed = install / "basalt.fne";
    struct Case {
        const char* name;
        const char* besideRuntime;     // placed as basalt.fnr beside the program, or none
        bool key;                      // the installation key exists
        const char* path;              // its "Path" (dir: the installation directory), or none
        const char* installedRuntime;  // placed as basalt.fne there, or none
        std::vector<std::string> log;  // what the runtime libraries saw
    };
    const Case cases[] = {
        {"no runtime anywhere, no key", nullptr, false, nullptr, nullptr, {}},
        {"the key without Path", nullptr, true, nullptr, kStarts, {}},
        {"an empty Path", nullptr, true, "", nullptr, {}},
        {"Path names a folder without the runtime", nullptr, true, "dir", nullptr, {}},
        {"a Path too long for the file name", nullptr, true, "long", nullptr, {}},
        {"a Path longer than the buffer", nullptr, true, "longer", nullptr, {}},
        {"beside: no GetNewSock",
         kWithoutExport,
         true,
         "dir",
         kStarts,
         {Loaded(beside), "unloaded freed"}},
        {"beside: GetNewSock refuses",
         kRefuses,
         true,
         "dir",
         kStarts,
         {Loaded(beside), "GetNewSock 1000", "unloaded freed"}},
        {"installed: no GetNewSock",
         nullptr,
         true,
         "dir",
         kWithoutExport,
         {Loaded(installed), "unloaded freed"}},
        {"installed: GetNewSock refuses",
         nullptr,
         true,
         "dir",
         kRefuses,
         {Loaded(installed), "GetNewSock 1000", "unloaded freed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RemoveInstallKey();
        fs::remove_all(scratch_.root() / "program");
        fs::remove_all(install);
        fs::remove(scratch_.root() / "runtime.log");
        if (c.key) CreateInstallKey();
        if (c.path != nullptr) {
            const std::string p = c.path;
            // 249 characters, a backslash and "basalt.fne" leave no room for the NUL; 300 do not
            // fit the value's buffer at all.
            const std::string value = p == "dir"      ? dir
                                      : p == "long"   ? "C:\\" + std::string(246, 'x')
                                      : p == "longer" ? "C:\\" + std::string(297, 'x')
                                                      : p;
            SetInstallPath(value);
        }
        if (c.installedRuntime != nullptr) Scratch::PlaceRuntime(c.installedRuntime, installed);
        const fs::path program =
            scratch_.PlaceProgram(scratch_.root() / "program", c.besideRuntime);
        const Outcome o = RunAndLowerLoaded(program);
        EXPECT_TRUE(o.errorBox);
        EXPECT_EQ(o.boxText, kErrorText);
        EXPECT_EQ(o.boxButtons, 1);
        EXPECT_EQ(o.exitCode, 0xFFFFFFFFu);
        EXPECT_EQ(o.log, c.log);
    }
}

}  // namespace
