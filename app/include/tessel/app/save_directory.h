#pragma once
// The save directory: chosen in the folder dialog, kept in bc.ini ([保存目录] 保存=, ending with
// its separator: "\" on Windows, "/" for the native program's Linux paths), shown in the label
// 存放目录 and read afresh for every download.
#include <string_view>

#include "tessel/runtime/text.h"

namespace tessel::app {

// `path` ending with its separator: appended unless it is there already, as a drive root's or
// the file system root's is.
Text FinishedDirectory(std::string_view path);

// The stored save directory, or the empty text when none is stored: no settings file, or a file
// without the entry (a download then asks for one instead of writing beside the program).
Text StoredSaveDirectory();

// Shows the stored directory in the label 存放目录 when the settings file exists (at start).
void ShowStoredSaveDirectory();

// The left-button handler of the label 设置目录. A cancelled dialog changes nothing; a chosen
// path becomes a FinishedDirectory. The label shows
// the new directory only once bc.ini holds it; a file that cannot be written is reported in a
// message box and the label keeps what is stored.
void OnChooseSaveDirectory();

}  // namespace tessel::app
