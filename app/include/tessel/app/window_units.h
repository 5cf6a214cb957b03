#pragma once
// The units the handlers work on, named once: the window description (app/windows.cpp) stores
// these ids in the form data, and the handlers address the units by them.
#include <cstdint>

#include "tessel/runtime/units.h"

namespace tessel::app {

inline constexpr std::uint32_t kMainWindowId = 0x52010001;
inline constexpr std::uint32_t kPlayerWindowId = 0x52010002;

inline constexpr UnitRef kMainWindow{kMainWindowId, kMainWindowId};
inline constexpr UnitRef kSearchBox{kMainWindowId, 0x16010004};             // 编辑框1
inline constexpr UnitRef kSearchButton{kMainWindowId, 0x06012413};          // 按钮1
inline constexpr UnitRef kChooseDirectoryLabel{kMainWindowId, 0x160124A1};  // 设置目录
inline constexpr UnitRef kProgressTimer{kMainWindowId, 0x06012540};         // 时钟1
inline constexpr UnitRef kSaveDirectoryLabel{kMainWindowId, 0x160125B2};    // 存放目录
inline constexpr UnitRef kTagTemplate{kMainWindowId, 0x16012630};           // 标签1
inline constexpr UnitRef kSongList{kMainWindowId, 0x260123D8};              // 超级列表框1
inline constexpr UnitRef kStatusBar{kMainWindowId, 0x26012702};             // 状态条1
inline constexpr UnitRef kListMenu{kMainWindowId, 0x46010010};              // 菜单
inline constexpr UnitRef kPlayerWindow{kPlayerWindowId, kPlayerWindowId};
inline constexpr UnitRef kPlayer{kPlayerWindowId, 0x56012801};  // 播放器1

// Columns of a song row and panes of the status bar.
namespace column {
inline constexpr std::int32_t kNumber = 0;
inline constexpr std::int32_t kTitle = 1;
inline constexpr std::int32_t kSinger = 2;
inline constexpr std::int32_t kDuration = 3;
inline constexpr std::int32_t kAddress = 4;
}  // namespace column
namespace pane {
inline constexpr std::int32_t kState = 0;
inline constexpr std::int32_t kSpeed = 1;
inline constexpr std::int32_t kDownload = 2;
}  // namespace pane

// Colours as the units take them (0x00BBGGRR).
inline constexpr std::int32_t kTagHighlight = 0x0000EE;  // RGB(238,0,0)
inline constexpr std::int32_t kTagNormal = 0x000000;     // RGB(0,0,0)

}  // namespace tessel::app
