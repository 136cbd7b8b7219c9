// A test helper for the Windows build, standing in for another program that has aircraft.cfg open.
//   hold_file PATH MILLISECONDS [SHARING]
//     holds the file open for reading for a while, as a virus scanner or the simulator loading an
//     aircraft may, sharing it as SHARING says (letters r, w, d: read, write, delete; "-" for
//     nothing), or by default for reading and writing but not for deletion, so that no other
//     program may replace it meanwhile;
//   hold_file --save PATH MILLISECONDS
//     saves the file slowly, as an editor may: it opens it for writing, empties it, writes the
//     first half of its old bytes followed by a section of its own, waits, then writes the rest.
//   Either creates PATH.held once the file is open, so that a test knows when the hold has begun.
//   hold_file --scan FOLDER MILLISECONDS SHARING LOG
//     stands in for a virus scanner, a search indexer or a cloud-sync client: it opens each new or
//     changed file of FOLDER for reading the moment it sees it, reads it, and holds it open for a
//     while, sharing it as SHARING says; or, with SHARING "m", as scanners that read by mapping
//     do, maps it, closes its handles and holds only the mapped view. One file at a time, as it
//     comes; a file that cannot be opened or mapped yet (an empty one) is tried again at the next
//     look. It creates LOG when it starts watching, adds the name of each file it held, one a
//     line, and ends once a file LOG.stop exists.
#include <windows.h>

#include <cstdlib>
#include <map>
#include <string>

namespace {

DWORD Sharing(const std::string& letters) {
  DWORD sharing = 0;
  for (const char c : letters) {
    sharing |= c == 'r'   ? FILE_SHARE_READ
               : c == 'w' ? FILE_SHARE_WRITE
               : c == 'd' ? FILE_SHARE_DELETE
                          : 0;
  }
  return sharing;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

void MarkHeld(const std::string& path) {
  const HANDLE mark = CreateFileA((path + ".held").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
}

int HoldOrSave(const std::string& path, DWORD pause, bool save, DWORD sharing) {
  const HANDLE file = CreateFileA(path.c_str(), save ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                  sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::string bytes(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (save && (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
               read != bytes.size())) {
    return 1;
  }
  MarkHeld(path);
  bool saved = true;
  if (save) {
    bytes += "\r\n[saved.by.another.program]\r\nk=v\r\n";
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    saved = SetEndOfFile(file) && WriteAll(file, bytes.substr(0, bytes.size() / 2));
  }
  Sleep(pause);
  if (save) saved = saved && WriteAll(file, bytes.substr(bytes.size() / 2));
  CloseHandle(file);
  return saved ? 0 : 1;
}

// What the scanner saw of a file when it last opened it.
struct Seen {
  ULONGLONG written = 0;
  ULONGLONG size = 0;
  bool operator==(const Seen&) const = default;
};

ULONGLONG Join(DWORD high, DWORD low) {
  return (ULONGLONG{high} << 32) | low;
}

// Maps the file and holds only the view, its handles closed; false when it could not be mapped.
bool MapAndHold(const std::string& path, DWORD pause) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  CloseHandle(file);
  if (mapping == nullptr) return false;
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);
  if (view == nullptr) return false;
  Sleep(pause);
  UnmapViewOfFile(view);
  return true;
}

// Opens the file, reads it whole and holds it, or holds only its mapped view (SHARING "m");
// false when it could not be opened.
bool Scan(const std::string& path, const std::string& letters, DWORD pause) {
  if (letters == "m") return MapAndHold(path, pause);
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, Sharing(letters), nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char chunk[1 << 16];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
  }
  Sleep(pause);
  CloseHandle(file);
  return true;
}

// The regular files of the folder, as they stand.
std::map<std::string, Seen> ListFiles(const std::string& folder) {
  std::map<std::string, Seen> files;
  WIN32_FIND_DATAA found;
  const HANDLE listing = FindFirstFileA((folder + "\\*").c_str(), &found);
  for (BOOL more = listing != INVALID_HANDLE_VALUE; more; more = FindNextFileA(listing, &found)) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    files[found.cFileName] = {
        Join(found.ftLastWriteTime.dwHighDateTime, found.ftLastWriteTime.dwLowDateTime),
        Join(found.nFileSizeHigh, found.nFileSizeLow)};
  }
  if (listing != INVALID_HANDLE_VALUE) FindClose(listing);
  return files;
}

int WatchFolder(const std::string& folder, DWORD pause, const std::string& sharing,
                const std::string& log) {
  const HANDLE changes = FindFirstChangeNotificationA(
      folder.c_str(), FALSE,
      FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
  if (changes == INVALID_HANDLE_VALUE) return 1;
  std::map<std::string, Seen> scanned = ListFiles(folder);  // only what comes after is scanned
  const HANDLE held = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 1;
  while (GetFileAttributesA((log + ".stop").c_str()) == INVALID_FILE_ATTRIBUTES) {
    for (const auto& [name, now] : ListFiles(folder)) {
      const auto known = scanned.find(name);
      if (known != scanned.end() && known->second == now) continue;
      if (Scan(folder + "\\" + name, sharing, pause)) {
        scanned[name] = now;
        WriteAll(held, name + "\n");
      }
    }
    WaitForSingleObject(changes, 20);
    FindNextChangeNotification(changes);
  }
  CloseHandle(held);
  FindCloseChangeNotification(changes);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const auto milliseconds = [&](int at) { return static_cast<DWORD>(std::atoi(argv[at])); };
  if (mode == "--scan" && argc == 6) {
    return WatchFolder(argv[2], milliseconds(3), argv[4], argv[5]);
  }
  if (mode == "--save" && argc == 4) {
    return HoldOrSave(argv[2], milliseconds(3), true, FILE_SHARE_READ | FILE_SHARE_WRITE);
  }
  if (argc == 3 || argc == 4) {
    return HoldOrSave(argv[1], milliseconds(2), false, Sharing(argc == 4 ? argv[3] : "rw"));
  }
  return 2;
}
