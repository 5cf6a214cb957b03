#include "tessel/app/pending.h"

namespace tessel::app {

void OnListRightClick() {}
void OnListDoubleClick() {}
void OnPlay() {}
void OnCopyAddress() {}
bool OnPlayerWindowCloseQuery() {
    return true;
}
void OnPlayerOpenStateChange(std::int32_t) {}
void OnMainWindowDestroy() {}

}  // namespace tessel::app
