#pragma once
// COM objects reached through the runtime's object commands (late binding by member name).
// Every member call passes at most one text argument; the runtime converts the member's result
// to the type asked for. A call on an empty reference, or one the object rejects, answers the
// empty text, 0 or false and changes nothing.
#include <utility>

#include "tessel/runtime/text.h"

namespace tessel {

// An owned object reference; releasing it (or letting it go) releases the object.
class Object {
  public:
    Object() = default;
    Object(Object&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Object& operator=(Object&& o) noexcept;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    ~Object() { Release(); }

    // A new object of the class registered under `progId`; an empty reference when it cannot
    // be created.
    static Object Create(const char* progId);
    // True when no object is held (asked of the runtime, as the program does).
    bool IsEmpty() const;
    void Release();

    bool SetProperty(const char* name, const char* value) const;
    Text CallText(const char* member, const char* argument) const;
    double CallNumber(const char* member, const char* argument) const;
    bool CallLogical(const char* member, const char* argument) const;
    // The result, whatever it is, is released at once.
    void Call(const char* member, const char* argument) const;

    void* get() const { return p_; }

  private:
    explicit Object(void* p) : p_(p) {}
    void* p_ = nullptr;
};

}  // namespace tessel
