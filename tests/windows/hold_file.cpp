// A test helper for the Windows build, standing in for another program that has aircraft.cfg open.
//   hold_file PATH MILLISECONDS
//     holds the file open for a while, as a virus scanner or the simulator loading an aircraft
//     may, sharing it for reading and writing but not for deletion, so that no other program may
//     replace it meanwhile;
//   hold_file --save PATH MILLISECONDS
//     saves the file slowly, as an editor may: it opens it for writing, empties it, writes the
//     first half of its old bytes followed by a section of its own, waits, then writes the rest.
// Either creates PATH.held once the file is open, so that a test knows when the hold has begun.
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  const bool save = argc == 4 && std::string(argv[1]) == "--save";
  if (argc != (save ? 4 : 3)) return 2;
  const std::string path = argv[save ? 2 : 1];
  const DWORD pause = static_cast<DWORD>(std::atoi(argv[save ? 3 : 2]));
  const HANDLE file = CreateFileA(path.c_str(), save ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
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
