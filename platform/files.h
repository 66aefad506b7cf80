// Files that change in one step: the new content goes into a file of its own beside the
// target, which then replaces the target by one rename. Whoever reads the target meanwhile
// sees the old file or the new one, never a part.
#pragma once

#include <cstdio>
#include <string>

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

}  // namespace msr
