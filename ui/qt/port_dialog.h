// CPortDialog: the application's main dialog. It lists the serial ports
// present (one entry per port: the text between the brackets of its friendly
// name, such as COM3), and "Update" runs the progress window for the
// selected port. After a complete update the dialog closes, which ends the
// program; otherwise it stays open for another attempt.
//
// Threads: the window thread.
#ifndef VELMORA_UI_QT_PORT_DIALOG_H_
#define VELMORA_UI_QT_PORT_DIALOG_H_

#include <QDialog>
#include <QIcon>
#include <functional>
#include <string>

#include "serial/port_discovery.h"
#include "ui/port_entry.h"
#include "ui/run_channel.h"

class QComboBox;
class QPushButton;
class QTimer;

class CPortDialog : public QDialog {
  Q_OBJECT

 public:
  using Discovery = std::function<void(PortList&, bool)>;

  // Fills the list from `discovery`: discoverPorts in the application, a
  // stand-in in tests.
  explicit CPortDialog(const Discovery& discovery, QWidget* parent = nullptr);

  QIcon appIcon;
  QComboBox* portCombo;
  QPushButton* updateButton;

  // Handed on to each progress window; tests replace the engine.
  RunChannel::Engine engine;

  // Whether an update completed; the dialog then closed by itself.
  bool updateComplete = false;

 private:
  void FillPortList(const Discovery& discovery);
  void OnUpdate();
  // Enables "Update" again once an earlier worker has returned.
  void WatchFinishingWorker();

  QTimer* workerWatch_;
};

#endif  // VELMORA_UI_QT_PORT_DIALOG_H_
