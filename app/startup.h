// Process entry: single instance, diagnostic log, settings path, command-line switches,
// hand-over to silent or window mode, end of the run.
#pragma once

#include <string>

namespace msr {

// The command line without the program name: leading blanks and tabs, the program name
// (quoted or not) and the blanks and tabs after it removed.
std::string command_tail(const char* command_line);

// Steps 3 to 9 of start-up: curdir, inifn, the switches and their log lines.
void read_environment_and_switches(const char* cp);

// Position of the first "-s" in cp, or -1.
int find_silent_switch(const char* cp);

// The whole run; returns the process exit code.
int msr_main(const char* cp);

}  // namespace msr
