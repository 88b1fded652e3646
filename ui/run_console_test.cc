// The run's console: the text a terminal would show, and the echo.
#include "ui/run_console.h"

#include <QTest>
#include <string>
#include <vector>

namespace {

// Records what reaches it; a key wait is a fault.
class RecordingConsole : public Console {
 public:
  std::string out;
  std::vector<std::string> errors;
  int keyWaits = 0;
  void write(std::string_view text) override { out += text; }
  void writeError(std::string_view line) override { errors.emplace_back(line); }
  void waitForKey() override { ++keyWaits; }
};

}  // namespace

class RunConsoleTest : public QObject {
  Q_OBJECT

 private slots:
  void screenText_data() {
    QTest::addColumn<QStringList>("writes");  // "!" before a line for writeError
    QTest::addColumn<QString>("shown");
    QTest::addRow("address rewritten in place")
        << QStringList{"ISP mode 115200 bps\nAddr : 0x00010000", "\b\b\b\b\b\b\b\b00010100",
                       "\b\b\b\b\b\b\b\b00010200", "\nAPP CODE  OK!"}
        << "ISP mode 115200 bps\nAddr : 0x00010200\nAPP CODE  OK!";
    QTest::addRow("backspace stops at the line's start")
        << QStringList{"ab\n", "\b\b\bc"} << "ab\nc";
    QTest::addRow("backspace without overwrite keeps the letters")
        << QStringList{"abcd\b\b"} << "abcd";
    QTest::addRow("carriage return overwrites from the start")
        << QStringList{"12345\rab\n"} << "ab345\n";
    QTest::addRow("error line on a line of its own")
        << QStringList{"Can not open COM5 port!\n", "!permission denied", "Addr : 0x1",
                       "!line gone", "x\n"}
        << "Can not open COM5 port!\npermission denied\nAddr : 0x1\nline gone\nx\n";
  }
  void screenText() {
    QFETCH(QStringList, writes);
    QFETCH(QString, shown);
    RunConsole console;
    for (const QString& w : writes) {
      if (w.startsWith('!'))
        console.writeError(w.mid(1).toStdString());
      else
        console.write(w.toStdString());
    }
    QCOMPARE(QString::fromStdString(console.text()), shown);
    console.clear();
    QCOMPARE(console.text(), std::string());
  }

  void echoesUnchangedAndNeverWaits() {
    RecordingConsole terminal;
    RunConsole console;
    console.setEcho(&terminal);
    console.write("Addr : 0x00010000");
    console.write("\b\b\b\b\b\b\b\b00010100");
    console.writeError("permission denied");
    console.waitForKey();
    const std::string echoed = "Addr : 0x00010000\b\b\b\b\b\b\b\b00010100";
    QCOMPARE(terminal.out, echoed);
    QCOMPARE(terminal.errors, std::vector<std::string>{"permission denied"});
    QCOMPARE(terminal.keyWaits, 0);
    console.setEcho(nullptr);
    console.write("more");
    QCOMPARE(terminal.out, echoed);
  }
};

QTEST_APPLESS_MAIN(RunConsoleTest)
#include "run_console_test.moc"
