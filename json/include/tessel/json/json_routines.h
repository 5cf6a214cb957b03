#pragma once
// JsonDocument's methods as flat C routines, the form the image's class method table names
// them in: the document's storage comes first (uninitialised storage for Construct and for the
// new document of GetObject and GetItemObject). A text or array answered is a new block the
// caller frees; a null text is an omitted argument; logical values are 0 or 1.
#include "tessel/json/json_document.h"

extern "C" {
void tessel_JsonDocument_Construct(tessel::JsonDocument* self);
void tessel_JsonDocument_Destruct(tessel::JsonDocument* self);
void tessel_JsonDocument_Initialize(tessel::JsonDocument* self);
int tessel_JsonDocument_Parse(tessel::JsonDocument* self, const char* text);
char* tessel_JsonDocument_ToJson(const tessel::JsonDocument* self);
void tessel_JsonDocument_SetValue(tessel::JsonDocument* self, const char* path, const char* value,
                                  int asExpression);
void tessel_JsonDocument_SetExpression(tessel::JsonDocument* self, const char* path,
                                       const char* expression);
void tessel_JsonDocument_SetNumber(tessel::JsonDocument* self, const char* path, double number);
double tessel_JsonDocument_GetNumber(const tessel::JsonDocument* self, const char* path);
char* tessel_JsonDocument_GetJson(const tessel::JsonDocument* self, const char* path);
char* tessel_JsonDocument_GetText(const tessel::JsonDocument* self, const char* path, int asJson);
void tessel_JsonDocument_GetObject(const tessel::JsonDocument* self, tessel::JsonDocument* result,
                                   const char* path);
int tessel_JsonDocument_Count(const tessel::JsonDocument* self, const char* path);
void tessel_JsonDocument_Append(tessel::JsonDocument* self, const char* value, const char* path,
                                int asExpression);
void tessel_JsonDocument_GetItemObject(const tessel::JsonDocument* self,
                                       tessel::JsonDocument* result, int index, const char* path);
char* tessel_JsonDocument_GetItemText(const tessel::JsonDocument* self, int index, const char* path,
                                      int asJson);
void tessel_JsonDocument_SetRootItem(tessel::JsonDocument* self, int index, const char* value,
                                     int asExpression);
void tessel_JsonDocument_RemoveRootItem(tessel::JsonDocument* self, int index);
void tessel_JsonDocument_RemoveItem(tessel::JsonDocument* self, const char* path);
void tessel_JsonDocument_Reset(tessel::JsonDocument* self, int kind);
void tessel_JsonDocument_SetRoot(tessel::JsonDocument* self, const char* value, int asExpression);
int tessel_JsonDocument_Exists(const tessel::JsonDocument* self, const char* path);
// `names` holds an array block (or null) that is replaced by the member names.
int tessel_JsonDocument_MemberNames(const tessel::JsonDocument* self, void** names,
                                    const char* path);
int tessel_JsonDocument_TypeOf(const tessel::JsonDocument* self, const char* path);
void tessel_JsonDocument_Clear(tessel::JsonDocument* self);
}
