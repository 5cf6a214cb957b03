// The generated image assembled for i686 and linked into this program: its stubs reach the
// linked routines, and after fixing up in place a call through the class method table arrives
// at the routine it names.
#include <gtest/gtest.h>

#include <cstring>

#include "routine_stand_ins.h"
#include "tessel/image/image.h"

extern "C" std::uint8_t tessel_image[];
extern "C" std::uint8_t tessel_image_end[];
extern "C" std::uint8_t tessel_image_const[];
extern "C" std::uint8_t tessel_image_code[];

namespace tessel::image {
namespace {

std::span<std::uint8_t> LinkedImage() {
    return {tessel_image, static_cast<std::size_t>(tessel_image_end - tessel_image)};
}

std::uint32_t Address(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

TEST(LinkedImage, ReadsAndEveryStubJumpsToItsRoutine) {
    const auto r = ReadImage(LinkedImage());
    ASSERT_TRUE(r.ok) << r.error;
    const auto* code = r.image.Find("code");
    ASSERT_NE(code, nullptr);
    ASSERT_EQ(kRoutineStandInCount, 42u);
    for (std::size_t i = 0; i < kRoutineStandInCount; ++i) {
        const auto& s = kRoutineStandIns[i];
        const std::uint8_t* stub = tessel_image_code + s.stub;
        ASSERT_EQ(stub[0], 0xE9) << s.name;
        const auto target = Address(stub) + 5 + LoadU32({stub, 5}, 1);
        EXPECT_EQ(target, Address(reinterpret_cast<const void*>(s.routine))) << s.name;
    }
    // The header's entry routine is the stub of EntryRoutine.
    EXPECT_EQ(r.image.entryCodeOffset, tessel::routine_stubs::kEntryRoutine);
}

TEST(LinkedImage, FixedUpMethodTableCallsTheRoutine) {
    const auto r = ReadImage(LinkedImage());
    ASSERT_TRUE(r.ok) << r.error;
    auto* constSection = r.image.Find("const");
    RelocationBases bases;
    bases.constData = Address(tessel_image_const);
    bases.codeData = Address(tessel_image_code);
    std::span<std::uint8_t> constData(tessel_image_const, constSection->data.size());
    ASSERT_TRUE(FixUpSection(constData, constSection->relocations, bases));
    const auto table = tessel::constants::kJsonDocumentMethodTable;
    void (*construct)() = nullptr;
    const std::uint32_t entry = LoadU32(constData, table);
    std::memcpy(&construct, &entry, sizeof entry);
    construct();
    EXPECT_STREQ(g_lastRoutine, "JsonDocument_Construct");
    const std::uint32_t clear = LoadU32(constData, table + 24 * 4);
    void (*clearRoutine)() = nullptr;
    std::memcpy(&clearRoutine, &clear, sizeof clear);
    clearRoutine();
    EXPECT_STREQ(g_lastRoutine, "JsonDocument_Clear");
}

}  // namespace
}  // namespace tessel::image
