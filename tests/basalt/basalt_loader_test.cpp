// basalt's loader refuses an image it cannot place safely: a message box says why and the
// process ends with a non-zero exit code, never a crash. Each image is written to a file that the
// development starter hands to basalt in place of the linked image.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "started_program.h"
#include "tessel/image/form.h"
#include "tessel/image/image.h"

namespace tessel::basalt_test {
namespace {

using image::Bytes;
using image::Image;
using image::RelocationKind;
using image::RelocationWord;
using image::StoredSection;
using image::StoreU32;

// The smallest image basalt runs: an entry routine that returns at once, no window, no library.
Image PlainImage() {
    Image img;
    img.sections.push_back(StoredSection("const", 1, Bytes(16, 0)));
    img.sections.push_back(StoredSection("form", 1, image::EncodeForm(image::Form{})));
    img.sections.push_back(StoredSection("help", 1, Bytes(8, 0)));
    Bytes code(16, 0x90);
    code[0] = 0xC3;           // the entry routine: ret
    StoreU32(code, 4, 0x24);  // a service slot
    StoreU32(code, 8, 4);     // a var offset
    StoreU32(code, 12, 0);    // a code offset
    img.sections.push_back(StoredSection(
        "code", 5, code,
        {RelocationWord(4, RelocationKind::kService), RelocationWord(8, RelocationKind::kVar),
         RelocationWord(12, RelocationKind::kCode)}));
    image::Section var;
    var.name = "var";
    var.flags = 19;
    var.memorySize = 16;
    var.stored = false;
    img.sections.push_back(var);
    img.sections.push_back(StoredSection("@reloc1", 1, image::EncodeReloc1({})));
    img.entryCodeOffset = 0;
    return img;
}

// Starts the starter with `img` written to a file; the file goes when the run is over.
class ImageRun {
  public:
    explicit ImageRun(const Image& img) {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "basalt_loader_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(GetTickCount()) + ".img";
        const Bytes bytes = image::WriteImage(img);
        HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
        SetEnvironmentVariableA("TESSEL_STARTER_IMAGE", path_.c_str());
        program_ = std::make_unique<StartedProgram>("");
        SetEnvironmentVariableA("TESSEL_STARTER_IMAGE", nullptr);
    }
    ~ImageRun() {
        program_.reset();
        DeleteFileA(path_.c_str());
    }
    StartedProgram& program() { return *program_; }

  private:
    std::string path_;
    std::unique_ptr<StartedProgram> program_;
};

TEST(BasaltLoader, APlainImageRunsAndEnds) {
    ImageRun run(PlainImage());
    EXPECT_EQ(run.program().WaitForExit(), 0u);
}

TEST(BasaltLoader, RefusesWhatItCannotPlaceWithAMessageAndAnExitCode) {
    struct Case {
        const char* what;
        void (*change)(Image&);
        const char* reason;
    };
    const Case cases[] = {
        {"a var of 32 bytes", [](Image& i) { i.Find("var")->memorySize = 32; }, "var section"},
        {"a kind-0 value past the slots", [](Image& i) { StoreU32(i.Find("code")->data, 4, 0x34); },
         "service table"},
        {"a kind-0 value between slots", [](Image& i) { StoreU32(i.Find("code")->data, 4, 0x22); },
         "service table"},
        {"a kind-2 value past var", [](Image& i) { StoreU32(i.Find("code")->data, 8, 16); },
         "outside var"},
        {"a kind-3 value past code", [](Image& i) { StoreU32(i.Find("code")->data, 12, 0x4000); },
         "outside code"},
        {"two sections of one name",
         [](Image& i) { i.sections.insert(i.sections.begin() + 3, StoredSection("help", 1, {})); },
         "two sections are named help"},
    };
    for (const auto& c : cases) {
        Image img = PlainImage();
        c.change(img);
        ImageRun run(img);
        HWND box = run.program().WaitForTopLevel(L"#32770");
        ASSERT_NE(box, nullptr) << c.what;
        std::string text;
        for (HWND s : Children(box, L"Static")) text += Utf8(WindowText(s));
        EXPECT_NE(text.find("cannot be loaded"), std::string::npos) << c.what << ": " << text;
        EXPECT_NE(text.find(c.reason), std::string::npos) << c.what << ": " << text;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(run.program().WaitForExit(), 0xFFFFFFFFu) << c.what;
    }
}

}  // namespace
}  // namespace tessel::basalt_test
