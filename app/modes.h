// The two run modes the entry point hands over to.
#pragma once

namespace msr {

// Programs the reader from the settings file; returns pos, the exit code.
int silent_mode(int pos);

// Creates the setup window and runs it until it closes.
void window_mode();

}  // namespace msr
