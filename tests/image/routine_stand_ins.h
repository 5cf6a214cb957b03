#pragma once
#include <cstddef>
#include <cstdint>

#include "tessel/image/const_offsets.h"

extern "C" {
void tessel_OnMainWindowCreated();
void tessel_OnSearch();
void tessel_OnSearchBoxKey();
void tessel_OnSearchBoxDoubleClick();
void tessel_OnChooseSaveDirectory();
void tessel_OnProgressTick();
void tessel_OnTagClick();
void tessel_OnListRightClick();
void tessel_OnListDoubleClick();
void tessel_OnMainWindowDestroy();
void tessel_OnPlay();
void tessel_OnDownload();
void tessel_OnCopyAddress();
void tessel_OnPlayerWindowCloseQuery();
void tessel_OnPlayerOpenStateChange();
void tessel_JsonDocument_Construct();
void tessel_JsonDocument_Destruct();
void tessel_JsonDocument_Initialize();
void tessel_JsonDocument_Parse();
void tessel_JsonDocument_ToJson();
void tessel_JsonDocument_SetValue();
void tessel_JsonDocument_SetExpression();
void tessel_JsonDocument_SetNumber();
void tessel_JsonDocument_GetNumber();
void tessel_JsonDocument_GetJson();
void tessel_JsonDocument_GetText();
void tessel_JsonDocument_GetObject();
void tessel_JsonDocument_Count();
void tessel_JsonDocument_Append();
void tessel_JsonDocument_GetItemObject();
void tessel_JsonDocument_GetItemText();
void tessel_JsonDocument_SetRootItem();
void tessel_JsonDocument_RemoveRootItem();
void tessel_JsonDocument_RemoveItem();
void tessel_JsonDocument_Reset();
void tessel_JsonDocument_SetRoot();
void tessel_JsonDocument_Exists();
void tessel_JsonDocument_MemberNames();
void tessel_JsonDocument_TypeOf();
void tessel_JsonDocument_Clear();
void tessel_CleanUpGlobals();
void tessel_EntryRoutine();
}

struct RoutineStandIn {
    const char* name;
    void (*routine)();
    std::uint32_t stub;  // code offset of its stub in the image
};
extern const RoutineStandIn kRoutineStandIns[];
extern const std::size_t kRoutineStandInCount;
extern const char* g_lastRoutine;
