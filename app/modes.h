// The two run modes the entry point hands over to.
#pragma once

namespace msr {

// Silent mode's failures, from 200 up: the position of -s, the exit code of a silent run
// that worked, can't reach them in a command line of up to 128 characters.
inline constexpr int kExitWriteFailed = 200;  // the reader refused the write, or took part
inline constexpr int kExitNoReader = 201;     // no library, driver or port reached a reader
inline constexpr int kExitWindowOpen = 202;   // another instance has its window open

// Programs the reader from the settings file; returns pos when that worked, else one of
// the failure codes above.
int silent_mode(int pos);

// Creates the setup window and runs it until it closes.
void window_mode();

}  // namespace msr
