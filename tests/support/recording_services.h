#pragma once
// A service table that records every call the program makes, in order, and keeps count of the
// blocks it handed out, so tests can check call sequences and that nothing leaks or is freed twice.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tessel/runtime/services.h"

namespace tessel::testing {

struct ServiceCall {
    std::uint32_t slot;
    std::vector<Word> words;    // the call's scalar arguments in order
    std::vector<Value> values;  // value-record arguments (library and kernel commands)
};

class RecordingServices {
  public:
    RecordingServices();   // installs itself
    ~RecordingServices();  // puts back the table that was installed before

    std::vector<ServiceCall> calls;
    // Live blocks and their sizes; freeing an unknown block fails the test.
    std::map<void*, std::uint32_t> liveBlocks;
    std::vector<void*> freed;  // in order
    std::vector<void (*)()> atExit;
    int unknownFrees = 0;

    // Optional behaviour for library commands (row, command, args) -> result.
    std::function<Value(std::uint32_t, std::uint32_t, const std::vector<Value>&)> onLibrary;
    using DllHandler = std::function<Word(std::uint32_t, const std::vector<Word>&)>;
    DllHandler onDll;
    // Called with a runtime error's code instead of ending the process; must not return.
    std::function<void(std::int32_t)> onRuntimeError;

    // Slots called, in order.
    std::vector<std::uint32_t> Slots() const;
    std::uint32_t SizeOf(void* block) const;

    static RecordingServices* current;

  private:
    const ServiceTable* previous_ = nullptr;
};

}  // namespace tessel::testing
