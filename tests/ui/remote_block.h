#pragma once
// Memory in the process that owns a window.
#include <windows.h>

#include <cwchar>
#include <string>

namespace ui_driver {

// A block of memory in the process that owns a window, for messages that carry pointers.
class RemoteBlock {
  public:
    RemoteBlock(HWND owner, size_t size, DWORD protection = PAGE_READWRITE) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(owner, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                   PROCESS_QUERY_INFORMATION | PROCESS_CREATE_THREAD | SYNCHRONIZE,
                               FALSE, pid);
        if (process_) {
            address_ =
                VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, protection);
        }
    }
    ~RemoteBlock() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    bool ok() const { return address_ != nullptr; }
    // Leaves the memory to the target process, for a remote thread that may still use it.
    void Abandon() { address_ = nullptr; }
    HANDLE process() const { return process_; }
    // The address of `offset` inside the block, as the target process sees it.
    void* at(size_t offset = 0) const { return static_cast<char*>(address_) + offset; }
    bool Write(const void* data, size_t size, size_t offset = 0) const {
        SIZE_T done = 0;
        return offset + size <= size_ &&
               WriteProcessMemory(process_, at(offset), data, size, &done) && done == size;
    }
    bool Read(void* data, size_t size, size_t offset = 0) const {
        SIZE_T done = 0;
        return offset + size <= size_ &&
               ReadProcessMemory(process_, at(offset), data, size, &done) && done == size;
    }
    std::wstring ReadText(size_t offset, size_t maxChars) const {
        std::wstring text(maxChars, L'\0');
        if (!Read(text.data(), maxChars * sizeof(wchar_t), offset)) return {};
        text.resize(wcsnlen(text.c_str(), maxChars));
        return text;
    }

  private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    size_t size_;
};

}  // namespace ui_driver
