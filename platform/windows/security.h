// A file's security on Windows, and the decisions that rest on it: whether this process may write
// a file, what of a file's security its new copy must be given, and whether the copy carries it:
// its owner, its access list (DACL) and the access list's protection from inheritance. Each
// decision takes the security descriptors and the answers that the system gave, so that a test
// can hand it Windows' own; only GiveSecurity changes anything.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// The owner, group and access list, with its protection from inheritance, of the file at `path`,
// as one self-relative security descriptor; false when the system does not give them.
bool SecurityOf(const std::string& path, std::string& descriptor);

// True only where an access check of `descriptor` against this process's token denies it `access`
// to the file (FILE_GENERIC_READ, say): then an open for it that was denied is this user's, not a
// moment's hold of another program. False where the check cannot be made.
bool SecurityDenies(PSECURITY_DESCRIPTOR descriptor, DWORD access);

// What of the file's security (`file`) its new copy, created with `copy`, must still be given: its
// owner where the copy's differs, and its access list, with its protection from inheritance,
// where either differs; 0 when the copy carries them already.
SECURITY_INFORMATION SecurityToGive(PSECURITY_DESCRIPTOR file, PSECURITY_DESCRIPTOR copy);

// Gives the copy at `path` `what` of the file's security (`file`); ERROR_SUCCESS, or the system's
// error. An owner other than this user's own takes the privilege to restore files, which an
// elevated administrator's token holds but has not enabled: it is enabled for this call alone.
DWORD GiveSecurity(const std::string& path, PSECURITY_DESCRIPTOR file, SECURITY_INFORMATION what);

// Empty when `copy`, the copy's descriptor as the system gives it after giving it the file's
// security ended with `given` (ERROR_SUCCESS, or the system's error), carries the file's owner,
// access list and protection from inheritance; otherwise what it would lose and what the user can
// do. (The group, which grants nothing on Windows, is not compared.)
std::string SecurityNotCarried(PSECURITY_DESCRIPTOR file, PSECURITY_DESCRIPTOR copy, DWORD given);

}  // namespace platform
