// SPDX-License-Identifier: GPL-2.0-or-later
// What tonewell-play needs of the operating system: where its own program file lies, a
// private temporary folder, and running a program to its end while the signals that ask this
// process to stop are passed on to it. One file per system: play_process_posix.cpp,
// play_process_win32.cpp.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

// The folder that holds the running executable (absolute), or an empty path when the system
// does not say.
std::filesystem::path ExecutableFolder();

// Creates a new folder under the system's temporary directory that only this user can enter
// (mode 0700 on POSIX); returns its path, or an empty path with *error set.
std::filesystem::path MakePrivateFolder(std::string* error);

// Runs program with the arguments args (args[0] is the name it gets), in the working
// directory folder (empty: this process's), with this process's standard streams, and waits
// for it to end. Returns its exit status 0 to 255; 128 + N when signal N ended it (POSIX);
// -1 with *error set when it could not be started. While it runs, an end request to this
// process (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+C, Ctrl+Break, closing the console) is
// passed on to it, and remembered (see EndRequest). When such a request came before, the
// program is not started and EndRequest() is returned.
int RunToEnd(const std::filesystem::path& program, const std::vector<std::string>& args,
             const std::filesystem::path& folder, std::string* error);

// The exit status that an end request received so far asks for (128 + signal number), or 0
// when none came. Also counts requests that came while no program ran.
int EndRequest();

// Called once before the first RunToEnd: from here on end requests are caught (and
// remembered) instead of ending this process at once, so that the folder can be removed.
void CatchEndRequests();

// Called once the temporary folder is removed, before this process ends (on Windows a console
// being closed waits for it).
void FolderGone();
