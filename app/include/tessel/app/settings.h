#pragma once
// bc.ini beside the program: the save directory ([保存目录] 保存=) and, optionally, the
// catalogue's address ([服务] 主机=host or host:port). Texts in the file are GBK.
#include "tessel/runtime/text.h"

namespace tessel::app {

// The program's directory + "\bc.ini".
Text SettingsFilePath();

// The API host the requests go to: the settings file's [服务] 主机 when given, else the
// catalogue found on the local network in this run, else the catalogue's default (local)
// address. The file is read afresh at every use, so an edited one takes effect at the next
// listing.
Text ApiHost();

// Called when the catalogue at ApiHost() gave no answer at all. When bc.ini names no host and
// no catalogue has been found in this run yet, looks for one announced on the local network, for
// about a second and a half at most; true when one was found, which then serves the rest of the
// run. bc.ini is never written.
bool LookForCatalogue();

// Says in the status bar that no catalogue answers, and what to do about it: pane 0 briefly (it
// is narrow), the download pane the advice. A host that bc.ini names is the one to check.
void SayNoCatalogue();
// Takes that advice away again once a catalogue has answered.
void TakeBackNoCatalogueAdvice();

// Forgets the catalogue found on the network, so that the next look starts afresh.
void ForgetFoundCatalogue();

}  // namespace tessel::app
