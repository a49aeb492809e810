// Keeps a Wine prefix warm while bench/run starts and stops the programs it
// measures: as long as one process of the prefix lives, wineserver, the
// desktop (explorer) and the system services stay up, so each start is
// timed against a running system, as on Windows. It shows nothing, does
// nothing and is killed by bench/run.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  GetDesktopWindow();  // brings the prefix's desktop up now, not in the first timed run
  Sleep(INFINITE);
  return 0;
}
