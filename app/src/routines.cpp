// The program's routines as the image's code stubs reach them: the runtime calls every event
// handler as `int handler(int, int, int)` with the event's parameters (runtime/units.h lists
// them); only the close query's result is read.
#include <cstdint>

#include "tessel/app/downloads.h"
#include "tessel/app/playback.h"
#include "tessel/app/save_directory.h"
#include "tessel/app/search.h"
#include "tessel/app/tags.h"

using namespace tessel::app;

extern "C" {

int tessel_OnMainWindowCreated(int, int, int) {
    OnMainWindowCreated();
    return 0;
}
int tessel_OnSearch(int, int, int) {
    OnSearch();
    return 0;
}
int tessel_OnSearchBoxKey(int keyCode, int, int) {
    OnSearchBoxKey(keyCode);
    return 0;
}
int tessel_OnSearchBoxDoubleClick(int, int, int) {
    OnSearchBoxDoubleClick();
    return 0;
}
int tessel_OnTagClick(int, int, int) {
    OnTagClick();
    return 0;
}
int tessel_OnChooseSaveDirectory(int, int, int) {
    OnChooseSaveDirectory();
    return 0;
}
int tessel_OnProgressTick(int, int, int) {
    OnProgressTick();
    return 0;
}
int tessel_OnListRightClick(int, int, int) {
    OnListRightClick();
    return 0;
}
int tessel_OnListDoubleClick(int, int, int) {
    OnListDoubleClick();
    return 0;
}
int tessel_OnPlay(int, int, int) {
    OnPlay();
    return 0;
}
int tessel_OnDownload(int, int, int) {
    OnDownload();
    return 0;
}
int tessel_OnCopyAddress(int, int, int) {
    OnCopyAddress();
    return 0;
}
int tessel_OnPlayerWindowCloseQuery(int, int, int) {
    return OnPlayerWindowCloseQuery() ? 1 : 0;
}
int tessel_OnPlayerOpenStateChange(int state, int, int) {
    OnPlayerOpenStateChange(state);
    return 0;
}
int tessel_OnMainWindowDestroy(int, int, int) {
    OnMainWindowDestroy();
    return 0;
}

}  // extern "C"
