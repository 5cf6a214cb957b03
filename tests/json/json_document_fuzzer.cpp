// Any answer text: Parse and the reads must neither crash nor leak, and a text value written
// with SetValue reads back exactly as given.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tessel/headless/headless.h"
#include "tessel/json/json_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool installed = (tessel::headless::Install(), true);
    (void)installed;
    std::string text(reinterpret_cast<const char*>(data), size);
    std::erase(text, '\0');

    tessel::JsonDocument doc;
    doc.Parse(text.c_str());
    doc.Count("data");
    doc.GetText("data[0].title");
    doc.TypeOf();
    doc.ToJson();

    // Bytes beyond ASCII need not be GBK at all, and those do not survive a code-page round trip.
    bool ascii = true;
    for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        doc.Reset(tessel::kJsonObject);
        doc.SetValue("v", text.c_str());
        if (doc.GetText("v").view() != text) std::abort();
    }
    return 0;
}
