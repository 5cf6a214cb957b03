// libFuzzer target: the image reader and the form decoder on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "tessel/image/form.h"
#include "tessel/image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto r = tessel::image::ReadImage(bytes);
    if (r.ok) {
        if (const auto* form = r.image.Find("form")) (void)tessel::image::DecodeForm(form->data);
        for (const auto& row : r.image.libraryRows) {
            const auto fields = tessel::image::SplitLibraryRow(row);
            if (fields.size() > 5) (void)tessel::image::SplitTypeRecords(fields[5]);
        }
    }
    (void)tessel::image::DecodeForm(bytes);
    (void)tessel::image::FindImage(bytes.first(size < 4096 ? size : 4096));
    return 0;
}
