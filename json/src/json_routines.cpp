// JsonDocument's methods as the image's class method table reaches them.
#include "tessel/json/json_routines.h"

#include <new>

using tessel::JsonDocument;
using tessel::TextArray;

extern "C" {

void tessel_JsonDocument_Construct(JsonDocument* self) {
    new (self) JsonDocument();
}
void tessel_JsonDocument_Destruct(JsonDocument* self) {
    self->~JsonDocument();
}
void tessel_JsonDocument_Initialize(JsonDocument* self) {
    self->Initialize();
}
int tessel_JsonDocument_Parse(JsonDocument* self, const char* text) {
    return self->Parse(text) ? 1 : 0;
}
char* tessel_JsonDocument_ToJson(const JsonDocument* self) {
    return self->ToJson().release();
}
void tessel_JsonDocument_SetValue(JsonDocument* self, const char* path, const char* value,
                                  int asExpression) {
    self->SetValue(path, value, asExpression != 0);
}
void tessel_JsonDocument_SetExpression(JsonDocument* self, const char* path,
                                       const char* expression) {
    self->SetExpression(path, expression);
}
void tessel_JsonDocument_SetNumber(JsonDocument* self, const char* path, double number) {
    self->SetNumber(path, number);
}
double tessel_JsonDocument_GetNumber(const JsonDocument* self, const char* path) {
    return self->GetNumber(path);
}
char* tessel_JsonDocument_GetJson(const JsonDocument* self, const char* path) {
    return self->GetJson(path).release();
}
char* tessel_JsonDocument_GetText(const JsonDocument* self, const char* path, int asJson) {
    return self->GetText(path, asJson != 0).release();
}
void tessel_JsonDocument_GetObject(const JsonDocument* self, JsonDocument* result,
                                   const char* path) {
    new (result) JsonDocument(self->GetObject(path));
}
int tessel_JsonDocument_Count(const JsonDocument* self, const char* path) {
    return self->Count(path);
}
void tessel_JsonDocument_Append(JsonDocument* self, const char* value, const char* path,
                                int asExpression) {
    self->Append(value, path, asExpression != 0);
}
void tessel_JsonDocument_GetItemObject(const JsonDocument* self, JsonDocument* result, int index,
                                       const char* path) {
    new (result) JsonDocument(self->GetItemObject(index, path));
}
char* tessel_JsonDocument_GetItemText(const JsonDocument* self, int index, const char* path,
                                      int asJson) {
    return self->GetItemText(index, path, asJson != 0).release();
}
void tessel_JsonDocument_SetRootItem(JsonDocument* self, int index, const char* value,
                                     int asExpression) {
    self->SetRootItem(index, value, asExpression != 0);
}
void tessel_JsonDocument_RemoveRootItem(JsonDocument* self, int index) {
    self->RemoveRootItem(index);
}
void tessel_JsonDocument_RemoveItem(JsonDocument* self, const char* path) {
    self->RemoveItem(path);
}
void tessel_JsonDocument_Reset(JsonDocument* self, int kind) {
    self->Reset(kind);
}
void tessel_JsonDocument_SetRoot(JsonDocument* self, const char* value, int asExpression) {
    self->SetRoot(value, asExpression != 0);
}
int tessel_JsonDocument_Exists(const JsonDocument* self, const char* path) {
    return self->Exists(path) ? 1 : 0;
}
int tessel_JsonDocument_MemberNames(const JsonDocument* self, void** names, const char* path) {
    TextArray array(*names);
    const int count = self->MemberNames(array, path);
    *names = array.release();
    return count;
}
int tessel_JsonDocument_TypeOf(const JsonDocument* self, const char* path) {
    return self->TypeOf(path);
}
void tessel_JsonDocument_Clear(JsonDocument* self) {
    self->Clear();
}

}  // extern "C"
