#pragma once
// The catalogue that the package installs for every user, started when the program starts.

namespace tessel::qt {

// Where the package's systemd user unit is installed beside this program (its prefix's
// lib/systemd/user/) and enabled, has the user's service manager start it, and waits until it
// serves (the unit is of Type=notify), for a few seconds at most. In the session in which the
// package was installed the manager has not read the unit yet: it is told to reload once. A
// program that is not installed (a build tree), a unit the user has disabled or masked, or no
// user manager at all leave everything as it is.
void StartUserCatalogue();

}  // namespace tessel::qt
