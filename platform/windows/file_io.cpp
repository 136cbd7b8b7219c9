// Whole-file reads and writes on Windows, every result checked, and the run's one back-off for
// files that other programs hold.
#include "platform/windows/file_io.h"

#include <algorithm>

#include "platform/pieces_match.h"
#include "platform/windows/security.h"

namespace platform {

bool ReadOpenFile(HANDLE file, std::string& bytes) {
  bytes.clear();
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) >= bytes.max_size()) {
    return false;
  }
  bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  char chunk[1 << 16];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, chunk, sizeof chunk, &read, nullptr)) return false;
    // An end before the size the file had when it was opened is a read that failed quietly.
    if (read == 0) return bytes.size() >= static_cast<std::size_t>(size.QuadPart);
    bytes.append(chunk, read);
  }
}

bool WriteOpenFile(HANDLE file, const std::vector<std::string_view>& pieces) {
  constexpr std::size_t kMostPerCall = std::size_t{1} << 20;
  for (std::string_view piece : pieces) {
    while (!piece.empty()) {
      const auto count = static_cast<DWORD>(std::min(piece.size(), kMostPerCall));
      DWORD written = 0;
      if (!WriteFile(file, piece.data(), count, &written, nullptr) || written == 0) return false;
      piece.remove_prefix(std::min<std::size_t>(written, piece.size()));
    }
  }
  return true;
}

bool HoldsExactly(HANDLE file, const std::vector<std::string_view>& pieces, bool& same) {
  char chunk[1 << 16];
  PiecesMatch match = StartMatch(pieces);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, chunk, sizeof chunk, &read, nullptr)) return false;
    if (read == 0) break;
    MatchChunk(match, std::string_view(chunk, read));
  }
  same = MatchedAll(match);
  return true;
}

namespace {

// Opens the file at `path` for reading, as other programs may hold it, and hands it to `use`,
// again while another program's hold makes the open or `use` fail; what `use` returned last.
template <typename Use>
bool WithFileForReading(const std::string& path, Use use) {
  return RetryWhileHeld([&] {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED &&
        DeniedToThisUser(path, FILE_GENERIC_READ)) {
      SetLastError(kDeniedToThisUser);
    }
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool used = use(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return used;
  });
}

}  // namespace

bool FileHoldsExactly(const std::string& path, const std::vector<std::string_view>& pieces,
                      FileIdentity& identity, bool& same) {
  return WithFileForReading(path, [&](HANDLE file) {
    return IdentityOf(file, identity) && HoldsExactly(file, pieces, same);
  });
}

bool IdentityOf(HANDLE file, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information) || information.nNumberOfLinks == 0) {
    return false;
  }
  identity = {information.dwVolumeSerialNumber,
              (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, FileIdentity* identity) {
  return WithFileForReading(path, [&](HANDLE file) {
    return (identity == nullptr || IdentityOf(file, *identity)) && ReadOpenFile(file, bytes);
  });
}

SystemResult Failed(const std::string& subject, const std::string& step) {
  const DWORD error = GetLastError();
  if (error == ERROR_SUCCESS) return {SystemFault::kFailed, subject, step};  // no call said why
  char text[512] = {};
  std::string why(text, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, error, 0, text, sizeof text, nullptr));
  why.erase(why.find_last_not_of(" .\r\n") + 1);
  // A text with a placeholder that no one fills says nothing; the number does.
  if (why.empty() || why.find('%') != std::string::npos) why = "error " + std::to_string(error);
  return {SystemFault::kFailed, subject, step + ": " + why};
}

bool DeniedToThisUser(const std::string& path, DWORD access) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;  // being deleted: nothing of it shows
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  std::string descriptor;
  return !SecurityOf(path, descriptor) || SecurityDenies(descriptor.data(), access);
}

bool HeldByAnother(DWORD error) {
  // A file held only through a mapped view cannot be replaced or cut short
  // (ERROR_USER_MAPPED_FILE), and one being deleted cannot be opened (access denied, or
  // ERROR_DELETE_PENDING) until the program that holds it lets go.
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED || error == ERROR_USER_MAPPED_FILE ||
         error == ERROR_DELETE_PENDING;
}

bool BackOff(DWORD pause) {
  // Per process, and so per run.
  static DWORD left = 10000;
  if (left == 0) return false;
  const DWORD error = GetLastError();
  pause = std::min(pause, left);
  Sleep(pause);
  left -= pause;
  SetLastError(error);
  return true;
}

HANDLE OpenRetried(const std::string& path, DWORD access, DWORD sharing, DWORD disposition,
                   DWORD flags) {
  HANDLE file = INVALID_HANDLE_VALUE;
  RetryWhileHeld([&] {
    file = CreateFileA(path.c_str(), access, sharing, nullptr, disposition, flags, nullptr);
    return file != INVALID_HANDLE_VALUE;
  });
  return file;
}

bool LockSharedByte(HANDLE file) {
  OVERLAPPED range{};
  range.Offset = static_cast<DWORD>(kSharedLockOffset);
  range.OffsetHigh = static_cast<DWORD>(kSharedLockOffset >> 32);
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range) != FALSE;
}

SystemResult HoldFile(const std::string& target, SystemLock& lock) {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  RetryWhileHeld([&] {
    attributes = GetFileAttributesA(target.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
  });
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return {};
  }
  // Opened for writing too, though nothing is written through it: Wine keeps the byte-range lock
  // of a handle that may only read as a shared record lock, which another Wine server's lock of
  // the same byte would not exclude.
  HANDLE file = INVALID_HANDLE_VALUE;
  const bool opened = RetryWhileHeld([&] {
    file = CreateFileA(target.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    // Denied access is this user's only where the file's security denies it; otherwise it is a
    // moment's (a file being deleted gives the same error), and is waited for.
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED &&
        DeniedToThisUser(target, FILE_GENERIC_READ | FILE_GENERIC_WRITE)) {
      SetLastError(kDeniedToThisUser);
    }
    return file != INVALID_HANDLE_VALUE;
  });
  if (!opened) {
    const DWORD error = GetLastError();
    if (error == kDeniedToThisUser) return {};  // refused once it is read
    if (HeldByAnother(error)) return {SystemFault::kHeld, target, ""};
    return Failed(target, "open it");
  }
  if (!LockSharedByte(file)) {
    const SystemResult failed = Failed(target, "lock it");
    CloseHandle(file);
    return failed;
  }
  lock.file = reinterpret_cast<std::intptr_t>(file);
  return {};
}

}  // namespace platform
