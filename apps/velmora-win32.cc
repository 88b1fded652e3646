// velmora.exe: the dialog front end on Windows. Its command line after the
// program's own name is the programmer's, with "<COMPORT>" standing for the
// chosen port's number, e.g.
//   velmora.exe fwp -uart COM<COMPORT> -app app.bin
// Exit status: 0 after "Update complete!", 1 when the dialog was closed
// without a complete update.
#include "serial/standard_descriptors.h"
#include "ui/win32/updater_app.h"
#include "ui/win32/win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  EnsureStandardDescriptors();
  CUpdaterApp app;
  app.InitInstance();
  return app.ExitStatus();
}
