// The port dialog: its entries from a stand-in discovery, and "Update" with
// a stand-in engine that sees the words built from this test's own command
// line ("x -uart COM<COMPORT>", set in main).
#include "ui/port_dialog.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <atomic>

#include "ui/test_support.h"

namespace {

PortRecord Port(std::string name, std::string friendly) {
  return {"/dev/tty-" + name, name, std::move(friendly), 0, "desc " + name};
}

CPortDialog::Discovery Listing(PortList ports, bool fail = false) {
  return [ports, fail](PortList& list, bool requireOpenable) {
    QVERIFY(!requireOpenable);
    list = ports;
    if (fail) throw PortDiscoveryError("SetupDiGetClassDevs failed (error 5)");
  };
}

QStringList Entries(const CPortDialog& dialog) {
  QStringList entries;
  for (int i = 0; i < dialog.portCombo->count(); ++i) entries << dialog.portCombo->itemText(i);
  return entries;
}

}  // namespace

class PortDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void entriesAreTheBracketedNames() {
    CPortDialog dialog(
        Listing({Port("COM12", "USB UART (COM12)"), Port("COM1", "Port (COM1)"),
                 Port("COM4", "Dual (COM4) (second)"), Port("COM5", "COM5"),
                 Port("", "ttyS40, 16550A (/dev/ttyS40"), Port("COM7", "Last (COM7)")}));
    // The port without a COM name is left out.
    QCOMPARE(Entries(dialog), (QStringList{"COM12", "COM1", "COM4", "COM5", "COM7"}));
    QCOMPARE(dialog.portCombo->currentIndex(), 0);
    QVERIFY(!dialog.portCombo->isEditable());
    QCOMPARE(dialog.portCombo->itemData(1, Qt::ToolTipRole).toString(),
             QString("/dev/tty-COM1\ndesc COM1"));
  }

  void portNumbers() {
    QCOMPARE(PortNumberOfEntry("COM1"), 1);
    QCOMPARE(PortNumberOfEntry("COM12"), 12);
    QCOMPARE(PortNumberOfEntry("XYZ 7a"), 7);
    QCOMPARE(PortNumberOfEntry("COM"), 0);
    QCOMPARE(PortNumberOfEntry(""), 0);
    QCOMPARE(PortNumberOfEntry("/dev/ttyS40"), 0);
  }

  void discoveryErrorKeepsEarlierEntries() {
    MessageBoxAnswerer answerer;
    CPortDialog dialog(Listing({Port("COM3", "A (COM3)")}, true));
    QCOMPARE(Entries(dialog), QStringList{"COM3"});
    dialog.show();
    QTRY_COMPARE(answerer.seen.size(), size_t(1));
    QCOMPARE(answerer.seen[0].text, QString("SetupDiGetClassDevs failed (error 5)"));
    QCOMPARE(answerer.seen[0].caption, QString("Velmora"));
  }

  void noPortsStillUpdatesWithPortZero() {
    MessageBoxAnswerer answerer;
    CPortDialog dialog(Listing({}));
    QCOMPARE(dialog.portCombo->currentIndex(), -1);
    std::string port;
    dialog.engine = [&port](int argc, char** argv) {
      if (argc == 3) port = argv[2];
      return 0;
    };
    dialog.show();
    dialog.updateButton->click();
    QCOMPARE(port, std::string("COM0"));
    QCOMPARE(answerer.seen.at(0).text, QString("Update not complete!"));
  }

  void failedUpdateStaysOpenCompleteOneCloses() {
    MessageBoxAnswerer answerer;
    CPortDialog dialog(Listing({Port("COM1", "P (COM1)"), Port("COM12", "Q (COM12)")}));
    std::atomic<int> result{3};
    std::string port;
    dialog.engine = [&](int argc, char** argv) {
      if (argc == 3) port = argv[2];
      return result.load();
    };
    dialog.portCombo->setCurrentIndex(1);
    QTimer::singleShot(0, [&] {
      // Enter presses "Update", the default button.
      QTest::keyClick(&dialog, Qt::Key_Return);
      QCOMPARE(port, std::string("COM12"));
      QCOMPARE(answerer.seen.at(0).text, QString("Update not complete!"));
      QVERIFY(dialog.isVisible());
      QCOMPARE(dialog.portCombo->currentIndex(), 1);
      // Again, now complete: the dialog then closes by itself.
      result = 2;
      QTRY_VERIFY(!RunChannel::process().workerRunning());
      dialog.updateButton->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QCOMPARE(answerer.seen.size(), size_t(2));
    QCOMPARE(answerer.seen[1].text, QString("Update complete!"));
  }
};

int main(int argc, char** argv) {
  // The words after the program's name are the command template.
  char x[] = "x", uart[] = "-uart", com[] = "COM<COMPORT>";
  char* words[] = {argv[0], x, uart, com, nullptr};
  int count = 4;
  QApplication app(count, words);
  PortDialogTest test;
  return QTest::qExec(&test, argc > 1 ? argc : 1, argv);
}
#include "port_dialog_test.moc"
