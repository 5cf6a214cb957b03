#pragma once
// The save directory: chosen in the folder dialog, kept in bc.ini ([保存目录] 保存=, ending with
// "\"), shown in the label 存放目录 and read afresh for every download.
#include "tessel/runtime/text.h"

namespace tessel::app {

// The stored save directory, or the empty text when none is stored: no settings file, or a file
// without the entry (a download then asks for one instead of writing beside the program).
Text StoredSaveDirectory();

// Shows the stored directory in the label 存放目录 when the settings file exists (at start).
void ShowStoredSaveDirectory();

// The left-button handler of the label 设置目录. A cancelled dialog changes nothing; a chosen
// path gets one trailing "\" (none more when it has one, as a drive root does). The label shows
// the new directory only once bc.ini holds it; a file that cannot be written is reported in a
// message box and the label keeps what is stored.
void OnChooseSaveDirectory();

}  // namespace tessel::app
