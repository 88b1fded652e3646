// velmora: the dialog front end. Its arguments after the program's own name
// (and after Qt's options) are the programmer's command line, with
// "<COMPORT>" standing for the chosen port's number, e.g.
//   velmora fwp -uart 'COM<COMPORT>' -app app.bin
// Exit status: 0 after "Update complete!", 1 when the dialog was closed
// without a complete update, or when the trace that VELMORA_TRACE names
// could not be written whole.
#include "serial/standard_descriptors.h"
#include "serial/trace.h"
#include "ui/qt/updater_app.h"

int main(int argc, char** argv) {
  EnsureStandardDescriptors();
  if (!InstallTraceFromEnvironment()) return 1;
  CUpdaterApp app(argc, argv);
  app.InitInstance();
  // A trace that could not be written whole makes no complete update.
  if (!FinishTraceFromEnvironment()) return 1;
  return app.ExitStatus();
}
