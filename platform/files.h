// The boundary to the file system for files that change in one step, which
// platform/win32 and platform/posix each implement with their own rename: the new
// content goes into a file of its own beside the target, which then replaces the target
// by one rename. Whoever reads the target meanwhile sees the old file or the new one,
// never a part.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace msr {

// The file `path` names once symbolic links are followed (POSIX), so that replacing it keeps
// the links pointing at it; `path` itself where there is no link (and on Windows).
std::string final_target(const std::string& path);

// Creates a new, empty file of a name no other file has, in the folder of `target`, and
// opens it for writing: as text (the platform's line ends) or as bytes. When `target` exists
// the new file takes its permissions (POSIX). Null, with `why` set, when it can't: a target
// that is a folder, or a folder that does not exist, in those words.
std::FILE* create_file_beside(const std::string& target, bool text, std::string* created,
                              std::string* why);

// Renames `from` to `to`, replacing a file `to` that exists: MoveFileExA with
// MOVEFILE_REPLACE_EXISTING on Windows (rename there refuses an existing target),
// rename(2) on POSIX.
bool replace_file(const std::string& from, const std::string& to, std::string* why);

// Appends `line` and the platform's line end to `path`, creating it when it does not exist,
// in one write to the end of the file: lines that several processes append at once never
// run into one another. False, with `why` set, when the file can't be opened or the line
// was not written whole.
bool append_line(const std::string& path, std::string_view line, std::string* why);

// The system's own words for an error code: FormatMessage's text for a Windows error
// (without its line end), strerror's for an errno value.
std::string system_error_text(unsigned long code);

// This computer's name as the network knows it (NetBIOS name on Windows, host name on
// POSIX); empty when the system doesn't say.
std::string computer_name();

// The SHA-256 of `data` in lower-case hex, from the platform's own cryptography (CryptoAPI
// on Windows, OpenSSL's libcrypto on POSIX); empty when it is not available.
std::string sha256_hex(std::string_view data);

}  // namespace msr
