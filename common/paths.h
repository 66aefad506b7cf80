// The folders the program reaches files in by absolute path, never through a search
// that takes in the current directory or PATH: its own folder, the system folder and
// the Windows folder.
#pragma once

#include <string>

namespace msr {

// The folder of the running .exe, without a trailing backslash unless it is a drive's
// root ("C:\"); empty when the platform can't say.
std::string program_folder();
// GetSystemDirectoryA and GetWindowsDirectoryA, however long; empty when the query fails.
std::string system_folder();
std::string windows_folder();

// folder + "\" + name, without doubling a trailing backslash.
std::string join_path(const std::string& folder, const char* name);

}  // namespace msr
