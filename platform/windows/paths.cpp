// The paths that the platform hands back: checked to be exact, and followed through links.
#include "platform/windows/paths.h"

#include <climits>

#include "platform/platform.h"
#include "platform/windows/file_io.h"

namespace platform {

std::wstring WidePath(const std::string& path) {
  if (path.empty() || path.size() > INT_MAX / 2) return {};
  const int length = static_cast<int>(path.size());
  std::wstring wide(path.size(), L'\0');  // never more UTF-16 units than bytes
  const int units =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), length, wide.data(), length);
  wide.resize(units > 0 ? static_cast<std::size_t>(units) : 0);
  return wide;
}

bool SpellsExactly(const std::string& path, const std::wstring& wide) {
  return !wide.empty() && WidePath(path) == wide;
}

namespace {

// Where the platform cannot name a file by its handle (on RAM disks and some mounted images it
// answers "Incorrect function"), the full path serves as long as the file is no link (no reparse
// point): a copy moved over that path then replaces the file itself, not a link to it. A link
// there is refused, saying why. (The attributes of a link are its own, not those of the file it
// leads to.)
SystemResult UnnamedByHandle(const std::string& fullPath, std::string& finalPath) {
  const DWORD attributes = GetFileAttributesA(fullPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    finalPath = fullPath;
    return {};
  }
  return {SystemFault::kFailed, fullPath,
          "follow it: Windows cannot name files by handle on this drive"};
}

// The final path of the open `file`, without the "\\?\" prefix, only when it fits the platform's
// buffers and its 8-bit spelling is exact.
SystemResult FinalPathOf(HANDLE file, const std::string& fullPath, std::string& finalPath) {
  char path[kPathBufferSize + 8];
  const DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, FILE_NAME_NORMALIZED);
  if (length == 0) return UnnamedByHandle(fullPath, finalPath);
  if (length >= sizeof path) return {SystemFault::kPathTooLong, fullPath, ""};
  finalPath.assign(path, length);
  std::wstring wide(kPathBufferSize + 8, L'\0');
  const DWORD units = GetFinalPathNameByHandleW(file, wide.data(), static_cast<DWORD>(wide.size()),
                                                FILE_NAME_NORMALIZED);
  wide.resize(units < wide.size() ? units : 0);
  if (!SpellsExactly(finalPath, wide)) return {SystemFault::kNotInCodePage, fullPath, ""};
  if (finalPath.rfind("\\\\?\\UNC\\", 0) == 0) {
    finalPath.replace(0, 8, "\\\\");
  } else if (finalPath.rfind("\\\\?\\", 0) == 0) {
    finalPath.erase(0, 4);
  }
  if (finalPath.size() >= kPathBufferSize) return {SystemFault::kPathTooLong, fullPath, ""};
  return {};
}

}  // namespace

SystemResult FinalPath(const std::string& fullPath, std::string& finalPath) {
  const HANDLE file = OpenRetried(fullPath, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      return Failed(fullPath, "examine it");
    }
    // The name may still stand, as a link whose target is gone: the copy must not replace it.
    // Listing the folder sees the link itself, where reading its attributes may follow it.
    // (Wine shows no trace of a Linux link to nothing, so there the name reads as free.)
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(fullPath.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      FindClose(search);
      return {SystemFault::kDanglingLink, fullPath, ""};
    }
    finalPath = fullPath;
    return {};
  }
  const SystemResult result = FinalPathOf(file, fullPath, finalPath);
  CloseHandle(file);
  return result;
}

std::string FolderOf(const std::string& path) {
  return path + "\\..";
}

SystemResult FullPath(const std::string& path, std::string& fullPath) {
  char full[kPathBufferSize];
  const DWORD length = GetFullPathNameA(path.c_str(), kPathBufferSize, full, nullptr);
  if (length == 0 || length >= kPathBufferSize) return {SystemFault::kPathTooLong, path, ""};
  fullPath.assign(full, length);
  std::wstring wide(kPathBufferSize, L'\0');
  const DWORD units = GetFullPathNameW(WidePath(path).c_str(), static_cast<DWORD>(wide.size()),
                                       wide.data(), nullptr);
  wide.resize(units < wide.size() ? units : 0);
  if (!SpellsExactly(fullPath, wide)) return {SystemFault::kNotInCodePage, path, ""};
  return {};
}

}  // namespace platform
