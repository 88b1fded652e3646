// The progress window's outcome handling and its close and stop state
// machine, with a stand-in engine on the real worker thread.
#include "ui/qt/update_progress_dialog.h"

#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <thread>

#include "engine/console.h"
#include "engine/reply_reader.h"
#include "ui/qt/percent_progress_ctrl.h"
#include "ui/qt/test_support.h"

namespace {

// Stands in for the programmer: looks for the receiver until it is found
// (without checking the run flag, as detection does), then posts a total and
// positions like the transfer, checking the run flag before each step, until
// told to finish (or stopped); then returns `result`. A result of 3 prints
// what the programmer prints for a failed image.
struct StandIn {
  std::atomic<int> result{2};
  std::atomic<bool> found{true};
  std::atomic<bool> finish{false};
  std::atomic<bool> ignoreFlag{false};  // runs on past a stop
  std::atomic<int> checks{0};
  std::atomic<int> argc{-1};

  RunChannel::Engine engine() {
    return [this](int count, char**, RunHooks&) {
      argc = count;
      while (!found) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      PostProgress(PROGRESS_SET_TOTAL, 1000);
      for (int position = 0; !finish; position = std::min(position + 10, 900)) {
        ++checks;
        if (ReadRunFlag() == 0 && !ignoreFlag) return 2;
        PostProgress(PROGRESS_SET_POSITION, position);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      PostProgress(PROGRESS_SET_POSITION, 1000);
      if (result == 3) {
        Print("Addr : 0x%08X", 0x10000);
        Print("\b\b\b\b\b\b\b\b%08X", 0x10100);
        Print("\nProgramming failed!\n");
      }
      return result.load();
    };
  }
};

void WaitForWorker() {
  QTRY_VERIFY_WITH_TIMEOUT(!RunChannel::process().workerRunning(), 10000);
  RunChannel::process().waitForWorker();
}

}  // namespace

class UpdateProgressDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    standIn = std::make_unique<StandIn>();
    answerer = std::make_unique<MessageBoxAnswerer>();
    dialog = std::make_unique<CUpdateProgressDialog>();
    dialog->engine = standIn->engine();
  }
  void cleanup() {
    standIn->finish = true;
    dialog.reset();
    WaitForWorker();
  }

  void completeRunAccepts() {
    dialog->commandTemplate = "x -uart COM<COMPORT>";
    answerer->Queue(QMessageBox::Ok, [this] {
      QCOMPARE(dialog->progressBar->text(), QString("100%"));
      QCOMPARE(RunChannel::process().runFlag.load(), 1);
    });
    QTimer::singleShot(50, [this] { standIn->finish = true; });
    QCOMPARE(dialog->exec(), int(QDialog::Accepted));
    QCOMPARE(standIn->argc.load(), 3);
    QCOMPARE(answerer->seen.size(), size_t(1));
    const auto& box = answerer->seen[0];
    QCOMPARE(box.text, QString("Update complete!"));
    QCOMPARE(box.caption, QString("Velmora"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!box.hasIcon);
    QCOMPARE(box.details, QString());
  }

  void failedRunRejectsAndClearsTheFlag() {
    standIn->result = 3;
    standIn->finish = true;
    QCOMPARE(dialog->exec(), int(QDialog::Rejected));
    QCOMPARE(answerer->seen.size(), size_t(1));
    const auto& box = answerer->seen[0];
    QCOMPARE(box.text, QString("Update not complete!"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // The address line as a terminal leaves it, then the reason.
    QCOMPARE(box.details, QString("Addr : 0x00010100\nProgramming failed!\n"));
    QCOMPARE(RunChannel::process().runFlag.load(), 0);
  }

  void emptyCommandLineRunsTheRealProgrammer() {
    // RunProgrammer with no words shows its usage, waits for a key (which
    // the run's console answers at once) and returns 0.
    CUpdateProgressDialog real;
    real.commandTemplate = "";
    QCOMPARE(real.exec(), int(QDialog::Rejected));
    QCOMPARE(answerer->seen.size(), size_t(1));
    QCOMPARE(answerer->seen[0].text, QString("Update not complete!"));
    const QString details = answerer->seen[0].details;
    QVERIFY2(details.startsWith("Flash Programmer V1.0.3.2\n"), qPrintable(details));
    QVERIFY2(details.endsWith("             [-almanac file] [-app file]\n"
                              "Press any key to continue . . . \n"),
             qPrintable(details));
  }

  // The bar's text while the run has no percentage to show.
  void lookingUntilTheTotal() {
    standIn->found = false;
    QString looking, total;
    QTimer::singleShot(30, [&] {
      looking = dialog->progressBar->text();
      standIn->found = true;
      QTRY_VERIFY(dialog->progressBar->text() != looking);
      total = dialog->progressBar->text();
      standIn->finish = true;
    });
    QCOMPARE(dialog->exec(), int(QDialog::Accepted));
    QCOMPARE(looking, QString("Looking for the receiver..."));
    QVERIFY2(total.endsWith('%'), qPrintable(total));
  }

  void stoppingUntilTheEngineStops() {
    standIn->found = false;  // Yes while the receiver is looked for
    QString beforeYes, afterYes;
    answerer->Queue(QMessageBox::Yes, [&] { beforeYes = dialog->progressBar->text(); });
    QTimer::singleShot(30, [this] { dialog->close(); });
    QTimer::singleShot(150, [&] {
      afterYes = dialog->progressBar->text();
      standIn->found = true;  // posts its total, then sees the flag
    });
    QCOMPARE(dialog->exec(), int(QDialog::Rejected));
    QCOMPARE(beforeYes, QString("Looking for the receiver..."));
    QCOMPARE(afterYes, QString("Stopping..."));
    // The total came after the Yes and left the text.
    QCOMPARE(dialog->progressBar->text(), QString("Stopping..."));
    QCOMPARE(answerer->seen.size(), size_t(1));
  }

  void noKeepsTheRunGoingWhileHeld() {
    answerer->Queue(QMessageBox::No, [this] {
      // The worker is held at its run-flag check while the question is up.
      // It counts a check before it reaches the hold, so the count is taken
      // once the worker has had time to get there.
      QTest::qWait(20);
      const int checks = standIn->checks;
      QTest::qWait(50);
      QCOMPARE(standIn->checks.load(), checks);
    });
    answerer->Queue(QMessageBox::Ok);
    QTimer::singleShot(30, [this] { dialog->close(); });
    QTimer::singleShot(300, [this] { standIn->finish = true; });
    QCOMPARE(dialog->exec(), int(QDialog::Accepted));
    QCOMPARE(answerer->seen.size(), size_t(2));
    QCOMPARE(answerer->seen[0].text, QString("Do you want to stop updating?"));
    QCOMPARE(answerer->seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(answerer->seen[1].text, QString("Update complete!"));
  }

  // The question while the receiver is looked for (an engine wait that
  // ends, and fails, while the question is up): the run is held there, and
  // the outcome comes only after the answer No.
  void noDuringDetectionHoldsTheOutcome() {
    dialog->engine = [](int, char**, RunHooks&) {
      Delay(300);
      return 0;
    };
    bool heldPastTheWait = false;
    answerer->Queue(QMessageBox::No, [&] {
      QTest::qWait(600);
      heldPastTheWait = RunChannel::process().workerRunning();
    });
    answerer->Queue(QMessageBox::Ok);
    QTimer::singleShot(30, [this] { dialog->close(); });
    QCOMPARE(dialog->exec(), int(QDialog::Rejected));
    QVERIFY(heldPastTheWait);
    QCOMPARE(answerer->seen.size(), size_t(2));
    QCOMPARE(answerer->seen[0].text, QString("Do you want to stop updating?"));
    QCOMPARE(answerer->seen[1].text, QString("Update not complete!"));
  }

  // Yes ends the run wherever it is: the engine's wait ends at once, and the
  // window closes within half a second, with no box.
  void yesDuringDetectionEndsWithinHalfASecond() {
    // A wait of the engine's, in a run with the hooks the worker gives it.
    dialog->engine = [](int, char**, RunHooks& hooks) {
      const RunHooksScope run(hooks);
      Delay(5000);
      return 0;
    };
    QElapsedTimer sinceYes;
    answerer->Queue(QMessageBox::Yes, [&] { sinceYes.start(); });
    QTimer::singleShot(30, [this] { dialog->close(); });
    QCOMPARE(dialog->exec(), int(QDialog::Rejected));
    QVERIFY2(sinceYes.elapsed() < 500, qPrintable(QString::number(sinceYes.elapsed())));
    QCOMPARE(answerer->seen.size(), size_t(1));
  }

  void yesStopsWithoutAMessage() {
    answerer->Queue(QMessageBox::Yes);
    QTimer::singleShot(30, [this] { dialog->close(); });
    QCOMPARE(dialog->exec(), int(QDialog::Rejected));
    QCOMPARE(answerer->seen.size(), size_t(1));  // only the question
    QCOMPARE(RunChannel::process().runFlag.load(), 0);
  }

  void secondCloseAfterYesClosesAtOnce() {
    standIn->ignoreFlag = true;
    answerer->Queue(QMessageBox::Yes);
    QTimer::singleShot(30, [this] { dialog->close(); });
    QTimer::singleShot(200, [this] { dialog->close(); });
    QCOMPARE(dialog->exec(), int(QDialog::Rejected));
    QCOMPARE(answerer->seen.size(), size_t(1));
    // The worker is still finishing: the flag stays 0, no new run starts,
    // and its last messages go nowhere once the window is gone.
    QVERIFY(RunChannel::process().workerRunning());
    QCOMPARE(g_pRunFlag->load(), 0);
    dialog.reset();
    QVERIFY(!RunChannel::process().start(nullptr, {}));
    standIn->finish = true;
    WaitForWorker();
    QTest::qWait(20);
    QCOMPARE(answerer->seen.size(), size_t(1));
  }

  void closeAfterTheWorkerEndedSkipsTheOutcome() {
    QTimer::singleShot(30, [this] {
      // Within one event: the worker ends and its PROGRESS_FINISHED waits in
      // the queue while the close request is handled.
      standIn->finish = true;
      while (RunChannel::process().workerRunning()) std::this_thread::yield();
      dialog->close();
    });
    QCOMPARE(dialog->exec(), int(QDialog::Rejected));
    QTest::qWait(20);
    QVERIFY(answerer->seen.empty());
  }

  void totalOfZeroLeavesAnEmptyRange() {
    dialog->engine = [](int, char**, RunHooks&) {
      PostProgress(PROGRESS_SET_TOTAL, 0);
      PostProgress(PROGRESS_SET_POSITION, 0);
      PostProgress(7, 1);  // an unknown code changes nothing
      return 1;
    };
    answerer->Queue(QMessageBox::Ok, [this] {
      QVERIFY(!ComputeBarLayout(QRect(0, 0, 10, 10), 0, 0, 0, {}).draw);
      QCOMPARE(dialog->progressBar->text(), QString());  // nothing to draw
    });
    QCOMPARE(dialog->exec(), int(QDialog::Accepted));
  }

 private:
  std::unique_ptr<StandIn> standIn;
  std::unique_ptr<MessageBoxAnswerer> answerer;
  std::unique_ptr<CUpdateProgressDialog> dialog;
};

QTEST_MAIN(UpdateProgressDialogTest)
#include "update_progress_dialog_test.moc"
