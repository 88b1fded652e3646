// velmora: the dialog front end. Its arguments after the program's own name
// (and after Qt's options) are the programmer's command line, with
// "<COMPORT>" standing for the chosen port's number, e.g.
//   velmora fwp -uart 'COM<COMPORT>' -app app.bin
// Exit status: 0 after "Update complete!", 1 when the dialog was closed
// without a complete update.
#include "serial/standard_descriptors.h"
#include "serial/trace.h"
#include "ui/qt/updater_app.h"

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  if (!InstallTraceFromEnvironment()) return 1;
  CUpdaterApp app(argc, argv);
  app.InitInstance();
  return app.ExitStatus();
}
