// A test helper for the Windows build: holds a file open for a while, as a virus scanner or the
// simulator loading an aircraft may, sharing it for reading and writing but not for deletion, so
// that no other program may replace it meanwhile. Usage: hold_file PATH MILLISECONDS. It creates
// PATH.held once the file is open, so that a test knows when the hold has begun.
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const HANDLE mark = CreateFileA((std::string(argv[1]) + ".held").c_str(), GENERIC_WRITE, 0,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  Sleep(static_cast<DWORD>(std::atoi(argv[2])));
  CloseHandle(file);
  return 0;
}
