#include "tessel/app/pending.h"

namespace tessel::app {

void OnDownload() {}
void OnProgressTick() {}
void OnChooseSaveDirectory() {}

}  // namespace tessel::app
