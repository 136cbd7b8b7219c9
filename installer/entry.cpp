// The installer's process entry: hands control to its run, whose result is the exit status.
// Arguments, start-up values and the environment are ignored.
#include "installer/run_installer.h"

#ifdef _WIN32
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return installer::RunInstaller();
}
#else
int main() {
  return installer::RunInstaller();
}
#endif
