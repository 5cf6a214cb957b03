#pragma once
// bc.ini beside the program: the save directory ([保存目录] 保存=) and, optionally, the
// catalogue's address ([服务] 主机=host or host:port). Texts in the file are GBK.
#include "tessel/runtime/text.h"

namespace tessel::app {

// The program's directory + "\bc.ini".
Text SettingsFilePath();

// The API host the requests go to: the settings file's [服务] 主机 when given, else the
// catalogue's default address. Read afresh at every use, so an edited file takes effect at the
// next listing.
Text ApiHost();

}  // namespace tessel::app
