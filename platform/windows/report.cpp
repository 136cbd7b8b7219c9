// Telling the user why a run stopped, or what it left alone. The Windows programs have no window
// and show no dialog: the one line goes to the system's debug output, where a debugger (or Wine's
// debug channel "debugstr") sees it, and to where a person can read it without one: the program's
// standard error, where it has one (redirected, as in `setup.exe 2> reason.txt`, or under Wine
// run from a terminal), or else the console of the process that started it, where that is a
// console program (a Command Prompt). It never creates a console or a window: started by a
// double-click, the program shows nothing, and its exit status is the whole report.
#include <windows.h>

#include <climits>

#include "platform/platform.h"

namespace platform {

namespace {

// Writes the line to `out`: to a console as wide text, which it shows whatever its code page is
// (the line is in the active code page, which a console's code page seldom is); to a file or a
// pipe as the line's own bytes. False when `out` is no handle, or the write fails.
bool WriteLine(HANDLE out, const std::string& line) {
  if (out == nullptr || out == INVALID_HANDLE_VALUE || line.size() > INT_MAX / 2) return false;
  const auto size = static_cast<int>(line.size());
  DWORD written = 0;
  DWORD mode = 0;
  if (!GetConsoleMode(out, &mode)) {
    return WriteFile(out, line.data(), size, &written, nullptr) &&
           WriteFile(out, "\r\n", 2, &written, nullptr);
  }
  std::wstring wide(line.size() + 2, L'\0');  // never more UTF-16 units than bytes
  const int units = MultiByteToWideChar(CP_ACP, 0, line.data(), size, wide.data(), size);
  if (units <= 0) return false;
  wide[units] = L'\r';
  wide[units + 1] = L'\n';
  return WriteConsoleW(out, wide.data(), units + 2, &written, nullptr) != FALSE;
}

}  // namespace

void Report(const std::string& message) {
  OutputDebugStringA(message.c_str());
  if (WriteLine(GetStdHandle(STD_ERROR_HANDLE), message)) return;
  // A program of the graphical subsystem started from a Command Prompt has no standard handles of
  // its own; it may join the prompt's console for the line. Where no console program started it,
  // there is none to join, and nothing shows.
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  const HANDLE console = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  WriteLine(console, message);
  if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
  FreeConsole();
}

}  // namespace platform
