// The operating-system boundary on Linux, for msrprofile: its serial part works on real
// serial ports through libserialport, so that the vCOM transport's protocol, CTS/DSR rule,
// time-outs and probing run unchanged; what Linux has no counterpart for answers as a
// Windows system without that facility would (no window, no library, no driver).
//
// Ports are presented as Windows presents them, by COM number. posix_set_ports takes the
// paths in the order they are to be probed; with N paths, the first is COM<N>, the second
// COM<N-1>, and so on down to the last, COM1. HARDWARE\DEVICEMAP\SERIALCOMM lists them,
// one value per path (named by the path, its data "COM<n>"), so maxcom() is N and the vCOM
// probe, which goes from the highest number down, visits the paths in the given order and
// stops at the first reader that answers. One path (a port named on the command line) is
// COM1. "\\.\COM<n>" (or "COM<n>") opens the path of COM n; any other name, and a number
// that names no path, fails with 2, as on a Windows system without that device.
//
// Last-error codes, from errno (win32_error) or libserialport:
//   ENOENT ENODEV ENXIO                    2  ERROR_FILE_NOT_FOUND   (no such port)
//   ENOTDIR                                3  ERROR_PATH_NOT_FOUND
//   EMFILE ENFILE                          4  ERROR_TOO_MANY_OPEN_FILES
//   EACCES EPERM EBUSY EWOULDBLOCK         5  ERROR_ACCESS_DENIED    (held, or not allowed)
//   EBADF, a handle that is no open one    6  ERROR_INVALID_HANDLE
//   ENOMEM                                 8  ERROR_NOT_ENOUGH_MEMORY
//   EIO and every errno not listed        31  ERROR_GEN_FAILURE      (device stopped working)
//   ENOTTY ENOTSUP ENOSYS                 50  ERROR_NOT_SUPPORTED    (not a serial device)
//   EINVAL, an argument Windows refuses   87  ERROR_INVALID_PARAMETER
//   ENAMETOOLONG                         206  ERROR_FILENAME_EXCED_RANGE
//   EINTR                                995  ERROR_OPERATION_ABORTED
//   ETIMEDOUT                           1460  ERROR_TIMEOUT
// and for what Linux lacks: DeviceIoControl on a port 1 (ERROR_INVALID_FUNCTION);
// LoadLibraryA 126 (ERROR_MOD_NOT_FOUND); GetProcAddress, FreeLibrary 6; window calls
// 1400 (ERROR_INVALID_WINDOW_HANDLE); message boxes, beeps, cursor clipping, security
// descriptors, the Windows and system folders, GetVersionExA and GetKeyboardLayoutNameA 120
// (ERROR_CALL_NOT_IMPLEMENTED). FindWindowA finds nothing, WinExec answers 2 (no such
// program), GetVersion 0; the registry has only the serial-port list.
//
// A port opens exclusively, as a COM port does on Windows whatever the share mode: an
// advisory whole-file lock (flock), which other careful serial programs take as well; a
// port locked elsewhere fails with 5. Time-outs start at zero (reads wait for every byte)
// until SetCommTimeouts. ClearCommError reports the line errors the driver counted since
// the last call (none on a port that keeps no counts, such as a pseudo-terminal).
//
// Files: a path's backslashes are Windows separators and become slashes (the diagnostic
// log "\msr.log" is /msr.log); time, sleep and the local time are the system's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/os.h"

namespace msr {

// The process's one Linux instance.
Os& posix_os();

// COM numbers 1..298 are the ones the vCOM probe visits; paths beyond that many are not
// presented.
inline constexpr std::size_t kMaxPresentedPorts = 298;

// Presents `paths` as described above, replacing what was presented before. A path that
// appears twice keeps its first place.
void posix_set_ports(std::vector<std::string> paths);
// The paths presented, first (highest COM number) first.
const std::vector<std::string>& posix_ports();
// The path of COM `com_number`; "" when none.
std::string posix_port_path(int com_number);
// The COM number of `path`; 0 when it isn't presented.
int posix_com_number(const std::string& path);

// The Win32 last-error code for an errno value (table above); 0 for 0.
std::uint32_t win32_error(int errno_value);

}  // namespace msr
