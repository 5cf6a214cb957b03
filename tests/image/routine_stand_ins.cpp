// Stand-ins for the routines the image's stubs jump to: each records that it ran, so a test
// can call through a stub and see where it arrived.
#include "routine_stand_ins.h"

const char* g_lastRoutine = nullptr;

// One definition per routine: the symbol names are fixed by the image's stubs.
#define TESSEL_STAND_IN(name)         \
    extern "C" void tessel_##name() { \
        g_lastRoutine = #name;        \
    }

TESSEL_STAND_IN(OnMainWindowCreated)
TESSEL_STAND_IN(OnSearch)
TESSEL_STAND_IN(OnSearchBoxKey)
TESSEL_STAND_IN(OnSearchBoxDoubleClick)
TESSEL_STAND_IN(OnChooseSaveDirectory)
TESSEL_STAND_IN(OnProgressTick)
TESSEL_STAND_IN(OnTagClick)
TESSEL_STAND_IN(OnListRightClick)
TESSEL_STAND_IN(OnListDoubleClick)
TESSEL_STAND_IN(OnMainWindowDestroy)
TESSEL_STAND_IN(OnPlay)
TESSEL_STAND_IN(OnDownload)
TESSEL_STAND_IN(OnCopyAddress)
TESSEL_STAND_IN(OnPlayerWindowCloseQuery)
TESSEL_STAND_IN(OnPlayerOpenStateChange)
TESSEL_STAND_IN(JsonDocument_Construct)
TESSEL_STAND_IN(JsonDocument_Destruct)
TESSEL_STAND_IN(JsonDocument_Initialize)
TESSEL_STAND_IN(JsonDocument_Parse)
TESSEL_STAND_IN(JsonDocument_ToJson)
TESSEL_STAND_IN(JsonDocument_SetValue)
TESSEL_STAND_IN(JsonDocument_SetExpression)
TESSEL_STAND_IN(JsonDocument_SetNumber)
TESSEL_STAND_IN(JsonDocument_GetNumber)
TESSEL_STAND_IN(JsonDocument_GetJson)
TESSEL_STAND_IN(JsonDocument_GetText)
TESSEL_STAND_IN(JsonDocument_GetObject)
TESSEL_STAND_IN(JsonDocument_Count)
TESSEL_STAND_IN(JsonDocument_Append)
TESSEL_STAND_IN(JsonDocument_GetItemObject)
TESSEL_STAND_IN(JsonDocument_GetItemText)
TESSEL_STAND_IN(JsonDocument_SetRootItem)
TESSEL_STAND_IN(JsonDocument_RemoveRootItem)
TESSEL_STAND_IN(JsonDocument_RemoveItem)
TESSEL_STAND_IN(JsonDocument_Reset)
TESSEL_STAND_IN(JsonDocument_SetRoot)
TESSEL_STAND_IN(JsonDocument_Exists)
TESSEL_STAND_IN(JsonDocument_MemberNames)
TESSEL_STAND_IN(JsonDocument_TypeOf)
TESSEL_STAND_IN(JsonDocument_Clear)
TESSEL_STAND_IN(CleanUpGlobals)
TESSEL_STAND_IN(EntryRoutine)

const RoutineStandIn kRoutineStandIns[] = {
    {"OnMainWindowCreated", &tessel_OnMainWindowCreated,
     tessel::routine_stubs::kOnMainWindowCreated},
    {"OnSearch", &tessel_OnSearch, tessel::routine_stubs::kOnSearch},
    {"OnSearchBoxKey", &tessel_OnSearchBoxKey, tessel::routine_stubs::kOnSearchBoxKey},
    {"OnSearchBoxDoubleClick", &tessel_OnSearchBoxDoubleClick,
     tessel::routine_stubs::kOnSearchBoxDoubleClick},
    {"OnChooseSaveDirectory", &tessel_OnChooseSaveDirectory,
     tessel::routine_stubs::kOnChooseSaveDirectory},
    {"OnProgressTick", &tessel_OnProgressTick, tessel::routine_stubs::kOnProgressTick},
    {"OnTagClick", &tessel_OnTagClick, tessel::routine_stubs::kOnTagClick},
    {"OnListRightClick", &tessel_OnListRightClick, tessel::routine_stubs::kOnListRightClick},
    {"OnListDoubleClick", &tessel_OnListDoubleClick, tessel::routine_stubs::kOnListDoubleClick},
    {"OnMainWindowDestroy", &tessel_OnMainWindowDestroy,
     tessel::routine_stubs::kOnMainWindowDestroy},
    {"OnPlay", &tessel_OnPlay, tessel::routine_stubs::kOnPlay},
    {"OnDownload", &tessel_OnDownload, tessel::routine_stubs::kOnDownload},
    {"OnCopyAddress", &tessel_OnCopyAddress, tessel::routine_stubs::kOnCopyAddress},
    {"OnPlayerWindowCloseQuery", &tessel_OnPlayerWindowCloseQuery,
     tessel::routine_stubs::kOnPlayerWindowCloseQuery},
    {"OnPlayerOpenStateChange", &tessel_OnPlayerOpenStateChange,
     tessel::routine_stubs::kOnPlayerOpenStateChange},
    {"JsonDocument_Construct", &tessel_JsonDocument_Construct,
     tessel::routine_stubs::kJsonDocument_Construct},
    {"JsonDocument_Destruct", &tessel_JsonDocument_Destruct,
     tessel::routine_stubs::kJsonDocument_Destruct},
    {"JsonDocument_Initialize", &tessel_JsonDocument_Initialize,
     tessel::routine_stubs::kJsonDocument_Initialize},
    {"JsonDocument_Parse", &tessel_JsonDocument_Parse, tessel::routine_stubs::kJsonDocument_Parse},
    {"JsonDocument_ToJson", &tessel_JsonDocument_ToJson,
     tessel::routine_stubs::kJsonDocument_ToJson},
    {"JsonDocument_SetValue", &tessel_JsonDocument_SetValue,
     tessel::routine_stubs::kJsonDocument_SetValue},
    {"JsonDocument_SetExpression", &tessel_JsonDocument_SetExpression,
     tessel::routine_stubs::kJsonDocument_SetExpression},
    {"JsonDocument_SetNumber", &tessel_JsonDocument_SetNumber,
     tessel::routine_stubs::kJsonDocument_SetNumber},
    {"JsonDocument_GetNumber", &tessel_JsonDocument_GetNumber,
     tessel::routine_stubs::kJsonDocument_GetNumber},
    {"JsonDocument_GetJson", &tessel_JsonDocument_GetJson,
     tessel::routine_stubs::kJsonDocument_GetJson},
    {"JsonDocument_GetText", &tessel_JsonDocument_GetText,
     tessel::routine_stubs::kJsonDocument_GetText},
    {"JsonDocument_GetObject", &tessel_JsonDocument_GetObject,
     tessel::routine_stubs::kJsonDocument_GetObject},
    {"JsonDocument_Count", &tessel_JsonDocument_Count, tessel::routine_stubs::kJsonDocument_Count},
    {"JsonDocument_Append", &tessel_JsonDocument_Append,
     tessel::routine_stubs::kJsonDocument_Append},
    {"JsonDocument_GetItemObject", &tessel_JsonDocument_GetItemObject,
     tessel::routine_stubs::kJsonDocument_GetItemObject},
    {"JsonDocument_GetItemText", &tessel_JsonDocument_GetItemText,
     tessel::routine_stubs::kJsonDocument_GetItemText},
    {"JsonDocument_SetRootItem", &tessel_JsonDocument_SetRootItem,
     tessel::routine_stubs::kJsonDocument_SetRootItem},
    {"JsonDocument_RemoveRootItem", &tessel_JsonDocument_RemoveRootItem,
     tessel::routine_stubs::kJsonDocument_RemoveRootItem},
    {"JsonDocument_RemoveItem", &tessel_JsonDocument_RemoveItem,
     tessel::routine_stubs::kJsonDocument_RemoveItem},
    {"JsonDocument_Reset", &tessel_JsonDocument_Reset, tessel::routine_stubs::kJsonDocument_Reset},
    {"JsonDocument_SetRoot", &tessel_JsonDocument_SetRoot,
     tessel::routine_stubs::kJsonDocument_SetRoot},
    {"JsonDocument_Exists", &tessel_JsonDocument_Exists,
     tessel::routine_stubs::kJsonDocument_Exists},
    {"JsonDocument_MemberNames", &tessel_JsonDocument_MemberNames,
     tessel::routine_stubs::kJsonDocument_MemberNames},
    {"JsonDocument_TypeOf", &tessel_JsonDocument_TypeOf,
     tessel::routine_stubs::kJsonDocument_TypeOf},
    {"JsonDocument_Clear", &tessel_JsonDocument_Clear, tessel::routine_stubs::kJsonDocument_Clear},
    {"CleanUpGlobals", &tessel_CleanUpGlobals, tessel::routine_stubs::kCleanUpGlobals},
    {"EntryRoutine", &tessel_EntryRoutine, tessel::routine_stubs::kEntryRoutine},
};
const std::size_t kRoutineStandInCount = sizeof kRoutineStandIns / sizeof kRoutineStandIns[0];
