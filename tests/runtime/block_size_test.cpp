// Block sizes: a length sum or product that 32 bits cannot hold is the out-of-memory error, never
// a block that wrapped around to something short. The inputs are only as large as the size they
// state: byte arrays whose header claims a length, and texts made of one small file mapped over
// and over into one long stretch of address space.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "runtime_errors.h"
#include "tessel/json/json_document.h"
#include "tessel/kernel/arguments.h"
#include "tessel/runtime/kernel.h"
#include "tessel/runtime/text.h"

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tessel {
namespace {

constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();

std::int32_t ErrorOf(const std::function<void()>& body) {
    return testing::CatchRuntimeError(body);
}

// A byte-array header that states `length` bytes; only the header itself exists.
struct ClaimedByteArray {
    explicit ClaimedByteArray(std::uint32_t length) : words{1, length} {}
    std::uint32_t words[2];
};

TEST(BlockSizes, ASizeThirtyTwoBitsCannotHoldIsOutOfMemory) {
    EXPECT_EQ(ErrorOf([] { EXPECT_EQ(BlockSize(kMax), kMax); }), 0);
    EXPECT_EQ(ErrorOf([] { BlockSize(std::uint64_t{kMax} + 1); }), runtime_error::kOutOfMemory);
}

TEST(BlockSizes, ByteArraysJustOverTheLimitAreOutOfMemory) {
    const char data[8] = {};
    // length + 8 bytes of header: one byte over.
    EXPECT_EQ(ErrorOf([&] { MakeByteArray(data, kMax - 7); }), runtime_error::kOutOfMemory);
    const ClaimedByteArray half(0x80000000u), rest(0x7FFFFFF8u);
    EXPECT_EQ(ErrorOf([&] {
                  JoinByteArrays({half.words, rest.words});
              }),
              runtime_error::kOutOfMemory);
    // The kernel's own blocks are measured the same way.
    EXPECT_EQ(ErrorOf([&] { platform::NewBytes(data, kMax - 7); }), runtime_error::kOutOfMemory);
    // Text arrays: a count whose pointers need more than 32 bits.
    EXPECT_EQ(ErrorOf([] { MakeTextArray(kMax / sizeof(char*), nullptr); }),
              runtime_error::kOutOfMemory);
}

#ifdef __linux__
// A text of `length` 'a' bytes and a NUL, made of one 64 MiB file mapped again and again, so that
// only 64 MiB of memory hold it.
class LongText {
  public:
    explicit LongText(std::size_t length) : size_(length + kPiece) {
        void* reserved = mmap(nullptr, size_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (reserved == MAP_FAILED) return;
        base_ = static_cast<char*>(reserved);
        const int fd = memfd_create("long-text", 0);
        if (fd < 0 || ftruncate(fd, kPiece) != 0) return;
        void* piece = mmap(nullptr, kPiece, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        std::memset(piece, 'a', kPiece);
        munmap(piece, kPiece);
        bool mapped = true;
        for (std::size_t at = 0; at < length; at += kPiece) {
            mapped &=
                mmap(base_ + at, kPiece, PROT_READ, MAP_SHARED | MAP_FIXED, fd, 0) != MAP_FAILED;
        }
        // The stretch after the text reads as zeros: its NUL.
        mapped &= mmap(base_ + length, kPiece, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
                       -1, 0) != MAP_FAILED;
        close(fd);
        ready_ = mapped;
    }
    ~LongText() {
        if (base_ != nullptr) munmap(base_, size_);
    }
    LongText(const LongText&) = delete;
    LongText& operator=(const LongText&) = delete;

    bool ready() const { return ready_; }
    const char* get() const { return base_; }

  private:
    static constexpr std::size_t kPiece = 64u << 20;
    std::size_t size_;
    char* base_ = nullptr;
    bool ready_ = false;
};

TEST(BlockSizes, TextsJustOverTheLimitAreOutOfMemory) {
    const LongText half(std::size_t{1} << 31);
    ASSERT_TRUE(half.ready());
    // Two halves of 2^31 bytes and a NUL: one byte over.
    EXPECT_EQ(ErrorOf([&] { JoinTexts({half.get(), half.get()}); }), runtime_error::kOutOfMemory);
    EXPECT_EQ(ErrorOf([&] { CopyText(std::string_view(half.get(), std::size_t{kMax})); }),
              runtime_error::kOutOfMemory);
    // Every byte may become a six-byte escape.
    EXPECT_EQ(ErrorOf([&] { QuoteScriptText(half.get()); }), runtime_error::kOutOfMemory);
}
#endif

}  // namespace
}  // namespace tessel
