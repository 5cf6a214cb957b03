#pragma once
// How basalt.fnr meets its support libraries (facet.fnr, ferry.fnr, vestry.fnr). Each library is
// a DLL with its own C++ runtime, so only plain C data crosses: value records, texts allocated
// through the host's service table, window handles as void*.
#include <cstdint>

#include "tessel/runtime/services.h"
#include "tessel/runtime/value.h"

namespace tessel::basalt {

// What the runtime lends a library when it loads it.
struct LibraryHost {
    const ServiceTable* services;  // results are allocated with services->allocate
    // The window handle of a unit (window id, unit id), or null when there is none.
    void* (*unitHandle)(std::uint32_t window, std::uint32_t unit);
    // The window that owns dialogs: the active top-level window of the program, or null.
    void* (*ownerWindow)();
};

// Exports every support library has (cdecl, undecorated names).
inline constexpr char kAttachExport[] = "tessel_Attach";
inline constexpr char kCommandExport[] = "tessel_Command";
using AttachRoutine = void (*)(const LibraryHost* host);
using CommandRoutine = void (*)(std::uint32_t command, std::uint32_t argCount, const Value* args,
                                Value* result);

// facet also creates its units: the report list and the status bar.
inline constexpr char kCreateUnitExport[] = "tessel_CreateUnit";
struct FacetColumn {
    const wchar_t* header;
    std::int32_t width;
    std::uint32_t alignment;  // 0 left, 1 centred, 2 right
};
struct FacetPane {
    const wchar_t* text;
    std::int32_t width;
};
struct FacetUnitPlacement {
    void* parent;  // HWND
    std::uint32_t type;
    std::uint32_t controlId;
    std::int32_t left, top, width, height;
    std::uint32_t windowStyle;  // WS_VISIBLE, WS_TABSTOP as the unit's flags say
    void* font;                 // HFONT
    const wchar_t* name;
    std::uint32_t count;  // columns or panes
    const FacetColumn* columns;
    const FacetPane* panes;
};
using CreateUnitRoutine = void* (*)(const FacetUnitPlacement* placement);  // HWND, null on failure

}  // namespace tessel::basalt
