#include "tessel/runtime/objects.h"

#include "tessel/runtime/kernel.h"

namespace tessel {

namespace {
Value RunCommand(std::uint32_t command, std::initializer_list<Value> args) {
    return CallKernel(command, std::span<const Value>(args.begin(), args.size()));
}
}  // namespace

Object& Object::operator=(Object&& o) noexcept {
    if (this != &o) {
        Release();
        p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
}

Object Object::Create(const char* progId) {
    return Object(
        AsPointer(Expect(RunCommand(kernel::kObjectCreate, {TextValue(progId)}), tag::kObject)));
}

bool Object::IsEmpty() const {
    return AsLogical(Expect(RunCommand(kernel::kObjectIsEmpty, {ObjectValue(p_)}), tag::kLogical));
}

void Object::Release() {
    if (p_ == nullptr) return;
    RunCommand(kernel::kObjectRelease, {ObjectValue(p_)});
    p_ = nullptr;
}

bool Object::SetProperty(const char* name, const char* value) const {
    return AsLogical(Expect(RunCommand(kernel::kObjectSetProperty,
                                       {ObjectValue(p_), TextValue(name), TextValue(value)}),
                            tag::kLogical));
}

Text Object::CallText(const char* member, const char* argument) const {
    const Value v = Expect(RunCommand(kernel::kObjectCallText,
                                      {ObjectValue(p_), TextValue(member), TextValue(argument)}),
                           tag::kText);
    return Text(const_cast<char*>(AsText(v)));
}

double Object::CallNumber(const char* member, const char* argument) const {
    return AsDouble(Expect(RunCommand(kernel::kObjectCallNumber,
                                      {ObjectValue(p_), TextValue(member), TextValue(argument)}),
                           tag::kDouble));
}

bool Object::CallLogical(const char* member, const char* argument) const {
    return AsLogical(Expect(RunCommand(kernel::kObjectCallLogical,
                                       {ObjectValue(p_), TextValue(member), TextValue(argument)}),
                            tag::kLogical));
}

void Object::Call(const char* member, const char* argument) const {
    RunCommand(kernel::kObjectCallVariant,
               {ObjectValue(p_), TextValue(member), TextValue(argument)});
}

}  // namespace tessel
