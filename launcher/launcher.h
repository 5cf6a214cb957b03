// The launcher of Tessel.exe: the process entry calls RunLauncher and ends the process with its
// result. It returns only when no usable runtime library was found, after telling the user.
#pragma once

// Finds the runtime library ("basalt.fnr" beside the program, else "basalt.fne" in the
// installation directory named in the registry), has it start the program image and ends the
// process with exit code 0 when its start routine returns. On failure: the error box, then -1.
int RunLauncher();

// The address of the program image's first byte, worked out from where this code runs: the
// image lies at a fixed distance from it (image_address.S).
extern "C" void* ProgramImageAddress();
