// Files that change in one step: the new content goes into a file of its own beside the
// target, which then replaces the target by one rename. Whoever reads the target meanwhile
// sees the old file or the new one, never a part.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace msr {

// Creates a new, empty file of a name no other file has, in the folder of `target`, and
// opens it for writing: as text (the platform's line ends) or as bytes. Null, with `why`
// set, when it can't.
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

// This computer's name as the network knows it (NetBIOS name on Windows, host name on
// POSIX); empty when the system doesn't say.
std::string computer_name();

// The SHA-256 of `data` in lower-case hex, from the platform's own cryptography (CryptoAPI
// on Windows, OpenSSL's libcrypto on POSIX); empty when it is not available.
std::string sha256_hex(std::string_view data);

}  // namespace msr
