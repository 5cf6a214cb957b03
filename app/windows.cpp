// The program's two windows as the `form` section stores them: every unit with its id,
// geometry, flags, design-time content and event bindings. The image builder encodes this.
//
// Unit ids are this program's numbering; those the handlers address are named once in
// tessel/app/window_units.h. A window's own record uses the window id.
#include "tessel/app/window_units.h"
#include "tessel/image_tool/description.h"

namespace tessel::image_tool {

namespace {

using namespace app;

using namespace image;
namespace type = image::unit_type;

constexpr std::uint32_t kFocus = kUnitShown | kUnitTakesFocus;  // 5
constexpr std::uint32_t kShown = kUnitShown;                    // 1
constexpr std::uint32_t kRed = 0x000000FF;                      // RGB(255,0,0) as 0x00BBGGRR

using namespace image::event;

ControlValue Text(std::u16string text) {
    return ControlValue::OfText(std::move(text));
}
ControlValue Integer(std::int32_t n) {
    return ControlValue::OfInteger(n);
}
ControlValue Number(double d) {
    return ControlValue::OfDouble(d);
}
ControlValue Logical(bool b) {
    return ControlValue::OfLogical(b);
}

WindowDescription MainWindow() {
    WindowDescription w;
    w.id = kMainWindowId;
    w.programIcon = true;
    WindowProperties self;
    self.title = "Tessel音乐搜索下载器";
    w.self = {w.id,
              type::kWindow,
              "主窗口",
              50,
              50,
              811,
              498,
              kShown,
              {{kCreated, "OnMainWindowCreated"}, {kDestroying, "OnMainWindowDestroy"}},
              self};

    ReportListProperties list;
    list.columns = {{"", -1, 0, 50, "序号"},
                    {"", -1, 0, 200, "音乐标题"},
                    {"", -1, 0, 150, "歌手"},
                    {"", -1, 1, 50, "时长"},
                    {"", -1, 0, 300, "下载地址"}};
    StatusBarProperties status;
    status.panes = {
        {130, "状态：", ""}, {170, "下载速度：", ""}, {300, "", ""}, {200, "By：Quenby", ""}};

    w.units = {
        {kSearchBox.unit,
         type::kEditBox,
         "编辑框1",
         8,
         9,
         507,
         32,
         kFocus,
         {{kDoubleClick, "OnSearchBoxDoubleClick"}, {kKeyDown, "OnSearchBoxKey"}},
         EditBoxProperties{0xFFFFFF, ""}},
        {kSearchButton.unit,
         type::kButton,
         "按钮1",
         523,
         9,
         88,
         32,
         kFocus,
         {{kClick, "OnSearch"}},
         ButtonProperties{"搜索"}},
        {kChooseDirectoryLabel.unit,
         type::kLabel,
         "设置目录",
         616,
         16,
         48,
         24,
         kShown,
         {{kLeftButtonDown, "OnChooseSaveDirectory"}},
         LabelProperties{kRed, LabelProperties::kNoColour, "设置目录"}},
        {kProgressTimer.unit,
         type::kTimer,
         "时钟1",
         624,
         16,
         32,
         24,
         0,
         {{kTick, "OnProgressTick"}},
         TimerProperties{0}},
        {kSaveDirectoryLabel.unit,
         type::kLabel,
         "存放目录",
         671,
         16,
         136,
         24,
         kShown,
         {},
         LabelProperties{0, LabelProperties::kNoColour, ""}},
        {kTagTemplate.unit,
         type::kLabel,
         "标签1",
         704,
         16,
         24,
         16,
         0,
         {{kLeftButtonDown, "OnTagClick"}},
         LabelProperties{0, LabelProperties::kNoColour, "标签"}},
        {kSongList.unit,
         type::kReportList,
         "超级列表框1",
         5,
         72,
         803,
         360,
         kFocus,
         {{kListRightClick, "OnListRightClick"}, {kDoubleClick, "OnListDoubleClick"}},
         list},
        {kStatusBar.unit, type::kStatusBar, "状态条1", 2, 413, 808, 24, kShown, {}, status},
    };
    w.menu = {
        {kListMenu.unit, "菜单", 0, 3, "菜单", ""},
        {0x46010011, "播放", 1, 0, "播放", "OnPlay"},
        {0x46010012, "下载", 1, 0, "下载", "OnDownload"},
        {0x46010013, "复制下载地址", 1, 0, "复制下载地址", "OnCopyAddress"},
    };
    return w;
}

WindowDescription PlayerWindow() {
    WindowDescription w;
    w.id = kPlayerWindowId;
    w.self = {w.id,
              type::kWindow,
              "播放窗口",
              50,
              50,
              380,
              71,
              kShown,
              {{kCloseQuery, "OnPlayerWindowCloseQuery"}},
              WindowProperties{}};

    // Stored in this order: URL, rate, balance, currentPosition, defaultFrame, playCount,
    // autoStart, currentMarker, invokeURLs, baseURL, volume, mute, uiMode, stretchToFit,
    // windowlessVideo, enabled, enableContextMenu, fullScreen, SAMIStyle, SAMILang,
    // SAMIFilename, captioningID, enableErrorDialogs.
    MediaPlayerProperties player;
    player.values = {Text(u""),     Number(1.0),    Integer(0),     Number(0.0),    Text(u""),
                     Integer(1),    Logical(true),  Integer(0),     Logical(true),  Text(u""),
                     Integer(100),  Logical(false), Text(u"full"),  Logical(false), Logical(false),
                     Logical(true), Logical(true),  Logical(false), Text(u""),      Text(u""),
                     Text(u""),     Text(u""),      Logical(false)};
    player.extentX = 9948;
    player.extentY = 847;
    w.units = {{kPlayer.unit,
                type::kMediaPlayer,
                "播放器1",
                0,
                0,
                376,
                45,
                kFocus,
                {{kOpenStateChange, "OnPlayerOpenStateChange"}},
                player}};
    return w;
}

}  // namespace

std::vector<WindowDescription> ProgramWindows() {
    return {MainWindow(), PlayerWindow()};
}

}  // namespace tessel::image_tool
