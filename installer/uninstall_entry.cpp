// The uninstaller's process entry: hands control to its run, whose result is the exit status.
// Arguments, start-up values and the environment are ignored.
#include "installer/run_uninstaller.h"

#ifdef _WIN32
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return installer::RunUninstaller();
}
#else
int main() {
  return installer::RunUninstaller();
}
#endif
