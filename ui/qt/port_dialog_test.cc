// The port dialog: its entries from a stand-in discovery, and "Update" with
// a stand-in engine that sees the words built from this test's own command
// line ("x -uart COM<COMPORT>", set in main).
#include "ui/qt/port_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <atomic>

#include "ui/qt/port_item_delegate.h"
#include "ui/qt/test_support.h"

namespace {

PortRecord Port(std::string name, std::string friendly) {
  return {"/dev/tty-" + name, name, std::move(friendly), 0, "desc " + name, ""};
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

  // In the opened list each entry is followed by its adapter, dimmed; the
  // entry's own text, which Update reads, stays the bracketed name.
  void openedListShowsTheAdapters() {
    CPortDialog dialog(Listing(
        {{"/dev/ttyS0", "COM1", "ttyS0, 16550A (COM1)", 0, "ttyS0, 16550A", ""},
         {"/dev/ttyUSB0", "COM33", "FT232R USB UART (COM33)", 1, "FT232R USB UART", "A50285BI"}}));
    QCOMPARE(dialog.portCombo->itemText(1), QString("COM33"));
    QCOMPARE(dialog.portCombo->itemData(1, kAdapterRole).toString(), QString("FT232R USB UART"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.portCombo->showPopup();
    QAbstractItemView* list = dialog.portCombo->view();
    QTRY_VERIFY(list->isVisible());

    // Wide enough for "COM33  FT232R USB UART", though the closed list is not.
    const QFontMetrics metrics = list->fontMetrics();
    QVERIFY(list->viewport()->width() >= metrics.horizontalAdvance("COM33  FT232R USB UART"));
    QVERIFY(dialog.portCombo->width() < metrics.horizontalAdvance("COM33  FT232R USB UART"));

    // The row's letters: the entry's in the text colour, the adapter's
    // beyond it in the dimmed colour, none past the adapter's end.
    const QRect row = list->visualRect(list->model()->index(1, 0));
    QImage image(list->viewport()->size(), QImage::Format_RGB32);
    list->viewport()->render(&image);
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.state &= ~QStyle::State_Selected;
    const QColor dimmed = PortItemDelegate::DimmedColour(option);
    const QColor text = list->palette().color(QPalette::Text);
    const int adapterStart = metrics.horizontalAdvance("COM33  ");
    const auto darkest = [&](int from, int to) {
      int best = 255 * 3;
      for (int y = row.top(); y <= row.bottom(); ++y)
        for (int x = from; x < to; ++x) {
          const QColor c = image.pixelColor(x, y);
          best = std::min(best, c.red() + c.green() + c.blue());
        }
      return best;
    };
    const auto sum = [](const QColor& c) { return c.red() + c.green() + c.blue(); };
    QCOMPARE(dialog.portCombo->currentIndex(), 0);  // row 1 is drawn unselected
    QVERIFY(darkest(0, adapterStart) <= sum(text) + 60);
    const int adapterDarkest = darkest(adapterStart + 4, row.right());
    QVERIFY2(std::abs(adapterDarkest - sum(dimmed)) <= 60,
             qPrintable(QString("darkest %1, dimmed %2").arg(adapterDarkest).arg(sum(dimmed))));
    dialog.portCombo->hidePopup();
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
    dialog.engine = [&port](int argc, char** argv, RunHooks&) {
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
    dialog.engine = [&](int argc, char** argv, RunHooks&) {
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
