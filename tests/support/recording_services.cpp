#include "recording_services.h"

#include <cstdio>
#include <cstdlib>

#include "tessel/kernel/kernel_commands.h"
#include "tessel/runtime/text.h"

namespace tessel::testing {

RecordingServices* RecordingServices::current = nullptr;

namespace {
RecordingServices& R() {
    return *RecordingServices::current;
}
void Record(std::uint32_t slot, std::vector<Word> words, std::vector<Value> values = {}) {
    R().calls.push_back({slot, std::move(words), std::move(values)});
}

[[noreturn]] void RuntimeError(std::int32_t code) {
    if (RecordingServices::current != nullptr && R().onRuntimeError) R().onRuntimeError(code);
    std::fprintf(stderr, "runtime error %d\n", code);
    std::fflush(stderr);
    std::_Exit(100 + code);
}

Word Dll(std::uint32_t index, std::uint32_t n, const Word* args) {
    std::vector<Word> w{index};
    w.insert(w.end(), args, args + n);
    Record(slot::kDllCommand, w);
    return R().onDll ? R().onDll(index, std::vector<Word>(args, args + n)) : 0;
}

void Library(std::uint32_t row, std::uint32_t command, std::uint32_t n, const Value* args,
             Value* result) {
    std::vector<Value> v(args, args + n);
    Record(slot::kLibraryCommand, {row, command}, v);
    *result = R().onLibrary ? R().onLibrary(row, command, v) : OmittedValue();
}

void Kernel(std::uint32_t command, std::uint32_t n, const Value* args, Value* result) {
    Record(slot::kKernelCommand, {command}, std::vector<Value>(args, args + n));
    *result = OmittedValue();
    if (!platform::RunPortableKernelCommand(command, n, args, result)) return;
    // Blocks made by the kernel are handed to the program: count them as ours.
    void* block = AsPointer(*result);
    if (block == nullptr) return;
    switch (result->tag) {
        case tag::kText:
            R().liveBlocks[block] = TextLength(AsText(*result)) + 1;
            break;
        case tag::kByteArray:
            R().liveBlocks[block] = ByteArrayLength(block) + 8;
            break;
        case tag::kTextArray: {
            void* first = nullptr;
            const std::uint32_t count = ElementCount(block, &first);
            R().liveBlocks[block] = 8 + count * static_cast<std::uint32_t>(sizeof(char*));
            for (std::uint32_t i = 0; i < count; ++i) {
                char* element = static_cast<char**>(first)[i];
                R().liveBlocks[element] = TextLength(element) + 1;
            }
            break;
        }
        default:
            break;
    }
}

void ReadProperty(std::uint32_t w, std::uint32_t u, std::uint32_t p, std::int32_t i, Value* r) {
    Record(slot::kReadUnitProperty, {w, u, p, static_cast<Word>(i)});
    *r = IntegerValue(0);
}

void WriteProperty(std::uint32_t w, std::uint32_t u, std::uint32_t p, std::int32_t i, Word low,
                   std::uint32_t high) {
    Record(slot::kWriteUnitProperty, {w, u, p, static_cast<Word>(i), low, high});
}

void* Allocate(std::uint32_t size) {
    Record(slot::kAllocate, {size});
    void* p = std::malloc(size == 0 ? 1 : size);
    R().liveBlocks[p] = size;
    return p;
}

void* Resize(void* block, std::uint32_t size) {
    Record(slot::kResize, {reinterpret_cast<Word>(block), size});
    R().liveBlocks.erase(block);
    void* p = std::realloc(block, size == 0 ? 1 : size);
    R().liveBlocks[p] = size;
    return p;
}

void FreeBlock(void* block) {
    Record(slot::kFree, {reinterpret_cast<Word>(block)});
    if (R().liveBlocks.erase(block) == 0) {
        ++R().unknownFrees;
        return;  // never free what we did not hand out
    }
    R().freed.push_back(block);
    std::free(block);
}

void End(std::int32_t code) {
    Record(slot::kEndProgram, {static_cast<Word>(code)});
}
void Loop() {
    Record(slot::kMessageLoop, {});
}
void LoadShow(std::uint32_t id) {
    Record(slot::kLoadAndShowWindow, {id});
}

Word Request(std::uint32_t code, std::uint32_t n, const Word* args) {
    std::vector<Word> w{code};
    w.insert(w.end(), args, args + n);
    Record(slot::kRequest, w);
    if (code == request::kAtExit && n >= 1)
        R().atExit.push_back(reinterpret_cast<void (*)()>(args[0]));
    return 0;
}

const ServiceTable kTable = {&RuntimeError,  &Dll,      &Library, &Kernel,    &ReadProperty,
                             &WriteProperty, &Allocate, &Resize,  &FreeBlock, &End,
                             &Loop,          &LoadShow, &Request};
}  // namespace

RecordingServices::RecordingServices() {
    previous_ = current != nullptr ? &Services() : nullptr;
    current = this;
    InstallServices(&kTable);
}

RecordingServices::~RecordingServices() {
    for (auto& [p, size] : liveBlocks) std::free(p);
    current = nullptr;
    InstallServices(previous_);
}

std::vector<std::uint32_t> RecordingServices::Slots() const {
    std::vector<std::uint32_t> s;
    for (const auto& c : calls) s.push_back(c.slot);
    return s;
}

std::uint32_t RecordingServices::SizeOf(void* block) const {
    const auto it = liveBlocks.find(block);
    return it == liveBlocks.end() ? 0 : it->second;
}

}  // namespace tessel::testing
