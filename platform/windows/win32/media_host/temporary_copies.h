#pragma once
// The player's temporary copies of http addresses (see url_download.h), kept track of for the
// whole process so that none outlives the program: named "tessel-play-<process id>-..." in the
// temporary folder, listed while they exist, removed at the program's end whichever way it ends,
// and swept at the next start when a killed run left some behind.
#include <windows.h>

#include <string>

namespace tessel::player {

// Creates a new, empty copy file for job `jobId` with `extension` and lists it. Other handles may
// read it; deleting it while a writer still holds it open is allowed, so the file goes when that
// handle closes (at the latest when the process ends). INVALID_HANDLE_VALUE when none could be
// made.
HANDLE CreateCopyFile(unsigned jobId, const std::wstring& extension, std::wstring* path);

// Deletes one copy and unlists it; false when it is still held open by a reader (the media
// control) and stays listed.
bool DeleteCopy(const std::wstring& path);

// Deletes every listed copy of this process (the end of the program).
void DeleteAllCopies();

// Deletes copies in the temporary folder whose process is no longer running. Copies of a
// running process, this one included, are left alone.
void SweepAbandonedCopies();

// How many copies of the process `processId` are in the temporary folder.
int CountCopiesOfProcess(unsigned long processId);

}  // namespace tessel::player
