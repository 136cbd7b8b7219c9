// A file's security on Windows, and the decisions that rest on it: whether this process may write
// a file, what of a file's security its new copy must be given, and whether the copy carries it.
// Each decision takes the security descriptors and the answers that the system gave, so that a
// test can hand it Windows' own; none of them changes anything.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// The owner, group and access list, with its protection from inheritance, of the file at `path`,
// as one self-relative security descriptor; false when the system does not give them.
bool SecurityOf(const std::string& path, std::string& descriptor);

// True only where an access check of `descriptor` against this process's token denies it reading
// and writing the file: then an open for writing that was denied is this user's, not a moment's
// hold of another program. False where the check cannot be made.
bool SecurityDeniesWriting(PSECURITY_DESCRIPTOR descriptor);

}  // namespace platform
