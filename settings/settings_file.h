// The settings file that seeds the block in silent mode: fifteen raw bytes, p2j,
// mr1..mr7, kq1..kq7, looked for in the Windows directory, then as msr.ini and
// tvrnmsr.ini in the current directory.
#pragma once

namespace msr {

// Presets by transport flag, then the first settings file that opens.
void readf();

}  // namespace msr
