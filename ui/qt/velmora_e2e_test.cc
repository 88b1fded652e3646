// The dialog tool end to end, under a real X server: the real application
// object, port discovery and programmer against velmora-sim on a
// pseudo-terminal, driven by pressing "Update" and answering the outcome;
// what the outcome box says and holds as details, what the bar says while
// the receiver is looked for and while a run stops, and the exit status the
// program would end with.
//
// main builds the application with the command line a user would give,
// "fwp -uart COM<COMPORT> -app <dir>/app.bin", so the worker builds its words
// exactly as in the installed program.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "tests/integration/sim_harness.h"
#include "ui/qt/percent_progress_ctrl.h"
#include "ui/qt/port_dialog.h"
#include "ui/qt/test_support.h"
#include "ui/qt/updater_app.h"

namespace {

std::string g_dir;

// Waits (processing events) for the port dialog that InitInstance runs.
CPortDialog* PortDialog() {
  CPortDialog* dialog = nullptr;
  for (int i = 0; i < 500 && !dialog; ++i) {
    dialog = qobject_cast<CPortDialog*>(QApplication::activeModalWidget());
    if (!dialog) QTest::qWait(10);
  }
  return dialog;
}

CPercentProgressCtrl* ProgressBar() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* bar = w->findChild<CPercentProgressCtrl*>(); bar && w->isVisible()) return bar;
  }
  return nullptr;
}

CUpdaterApp* App() {
  return static_cast<CUpdaterApp*>(qApp);
}

// The bar's text `ms` from now, while the progress window is up.
void NoteBarText(int ms, QString& text) {
  QTimer::singleShot(ms, [&text] {
    if (CPercentProgressCtrl* bar = ProgressBar()) text = bar->text();
  });
}

// Runs the application until its port dialog ends; `drive` runs inside it.
// Returns whether InitInstance came back (the program would end).
template <typename Drive>
bool RunApplication(Drive drive) {
  QTimer::singleShot(0, [drive] {
    CPortDialog* dialog = PortDialog();
    drive(dialog);
  });
  return !App()->InitInstance();
}

// Selects `com` and presses Update; answers the outcome box with OK, noting
// the bar's text while the box is up.
void Update(CPortDialog* dialog, const std::string& com, MessageBoxAnswerer& answerer,
            QString& barText) {
  const int index = dialog->portCombo->findText(QString::fromStdString(com));
  ASSERT_GE(index, 0) << "discovery does not list " << com;
  dialog->portCombo->setCurrentIndex(index);
  answerer.Queue(QMessageBox::Ok, [&barText] {
    if (CPercentProgressCtrl* bar = ProgressBar()) barText = bar->text();
  });
  dialog->updateButton->click();
}

TEST(VelmoraE2ETest, CompleteUpdateEndsTheProgram) {
  SimProcess sim({"--com", "201", "--loader", "115200", "--no-timing"});
  MessageBoxAnswerer answerer;
  QString barText;
  bool stillOpen = true;
  const bool ended = RunApplication([&](CPortDialog* dialog) {
    ASSERT_NE(dialog, nullptr);
    Update(dialog, sim.comName(), answerer, barText);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog->isVisible(), 5000);
    stillOpen = false;
  });
  EXPECT_TRUE(ended);
  EXPECT_FALSE(stillOpen);
  ASSERT_EQ(answerer.seen.size(), 1u);
  EXPECT_EQ(answerer.seen[0].text.toStdString(), "Update complete!");
  EXPECT_EQ(barText.toStdString(), "100%");
  EXPECT_EQ(App()->ExitStatus(), 0);
  sim.stop();
}

// Nothing answers: about 7 s of detection, then the programmer's reason.
TEST(VelmoraE2ETest, SilentReceiverIsNotFound) {
  SimProcess sim({"--com", "203", "--no-sentences", "--no-timing"});
  MessageBoxAnswerer answerer;
  QString barText, looking;
  RunApplication([&](CPortDialog* dialog) {
    ASSERT_NE(dialog, nullptr);
    NoteBarText(1000, looking);
    Update(dialog, sim.comName(), answerer, barText);
    dialog->reject();
  });
  EXPECT_EQ(looking.toStdString(), "Looking for the receiver...");
  ASSERT_EQ(answerer.seen.size(), 1u);
  EXPECT_EQ(answerer.seen[0].text.toStdString(), "Update not complete!");
  EXPECT_EQ(answerer.seen[0].details.toStdString(),
            "Flash Programmer V1.0.3.2\nDevice not found!\n");
  EXPECT_EQ(App()->ExitStatus(), 1);
  sim.stop();
}

// Yes while the receiver is looked for: the run ends at once, wherever it
// is, and the window closes within half a second, with no box; the dialog
// stays open.
TEST(VelmoraE2ETest, StopWhileLookingEndsWithoutABox) {
  SimProcess sim({"--com", "204", "--no-sentences", "--no-timing"});
  MessageBoxAnswerer answerer;
  QElapsedTimer sinceYes;
  qint64 closedAfter = -1;
  bool openAfterStop = false;
  RunApplication([&](CPortDialog* dialog) {
    ASSERT_NE(dialog, nullptr);
    const int index = dialog->portCombo->findText(QString::fromStdString(sim.comName()));
    ASSERT_GE(index, 0);
    dialog->portCombo->setCurrentIndex(index);
    answerer.Queue(QMessageBox::Yes, [&] { sinceYes.start(); });
    QTimer::singleShot(500, [] {
      if (CPercentProgressCtrl* bar = ProgressBar()) bar->window()->close();
    });
    dialog->updateButton->click();  // returns when the progress window has closed
    closedAfter = sinceYes.elapsed();
    openAfterStop = dialog->isVisible();
    dialog->reject();
  });
  EXPECT_GE(closedAfter, 0);
  EXPECT_LT(closedAfter, 500);
  ASSERT_EQ(answerer.seen.size(), 1u);  // the question only
  EXPECT_EQ(answerer.seen[0].text.toStdString(), "Do you want to stop updating?");
  EXPECT_TRUE(openAfterStop);
  EXPECT_EQ(App()->ExitStatus(), 1);
  sim.stop();
}

TEST(VelmoraE2ETest, FailedImageLeavesTheDialogOpen) {
  SimProcess sim(
      {"--com", "202", "--loader", "115200", "--no-timing", "--fail-address", "0x10000"});
  MessageBoxAnswerer answerer;
  QString barText;
  bool openAfterFailure = false;
  bool updateEnabled = false;
  RunApplication([&](CPortDialog* dialog) {
    ASSERT_NE(dialog, nullptr);
    Update(dialog, sim.comName(), answerer, barText);
    openAfterFailure = dialog->isVisible();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->updateButton->isEnabled(), 5000);
    updateEnabled = true;
    dialog->reject();  // "Close"
  });
  ASSERT_EQ(answerer.seen.size(), 1u);
  EXPECT_EQ(answerer.seen[0].text.toStdString(), "Update not complete!");
  // The address line as the terminal leaves it: the last block requested
  // of the 20000-byte image.
  EXPECT_EQ(answerer.seen[0].details.toStdString(),
            "Flash Programmer V1.0.3.2\nISP mode 115200 bps\nAddr : 0x00014000\n"
            "Programming failed!\n");
  EXPECT_TRUE(openAfterFailure);
  EXPECT_TRUE(updateEnabled);
  EXPECT_EQ(App()->ExitStatus(), 1);
  sim.stop();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  char pattern[] = "/tmp/velmora-e2e-XXXXXX";
  g_dir = mkdtemp(pattern);
  std::filesystem::create_directory(g_dir + "/ports");
  setenv("VELMORA_PORTS", (g_dir + "/ports").c_str(), 1);
  std::string image(20000, '\0');
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  std::ofstream(g_dir + "/app.bin", std::ios::binary) << image;

  std::vector<std::string> words = {argv[0],        "fwp",  "-uart",
                                    "COM<COMPORT>", "-app", g_dir + "/app.bin"};
  std::vector<char*> pointers;
  for (auto& w : words) pointers.push_back(w.data());
  pointers.push_back(nullptr);
  int count = static_cast<int>(words.size());
  CUpdaterApp app(count, pointers.data());
  const int status = RUN_ALL_TESTS();
  std::filesystem::remove_all(g_dir);
  return status;
}
