// The worker's word building and outcome rule, and one worker run with a
// stand-in engine.
#include "ui/update_thread.h"

#include <QTest>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Words(const ArgumentVector& v) {
  std::vector<std::string> words;
  for (int i = 1; i < v.argc; ++i) words.emplace_back(v.slot[i]);
  return words;
}

using Strings = std::vector<std::string>;

}  // namespace

class UpdateThreadTest : public QObject {
  Q_OBJECT

 private slots:
  void templateIsTheArgumentsJoined() {
    QCOMPARE(CommandTemplate({"velmora", "fwp", "-uart", "COM<COMPORT>"}),
             std::string("fwp -uart COM<COMPORT>"));
    QCOMPARE(CommandTemplate({"velmora"}), std::string());
    QCOMPARE(CommandTemplate({}), std::string());
  }

  void portTokenReplacedEverywhere() {
    QCOMPARE(ReplacePortToken("a COM<COMPORT> b<COMPORT>", 12), std::string("a COM12 b12"));
    QCOMPARE(ReplacePortToken("fwp -uart COM3", 7), std::string("fwp -uart COM3"));
    // Case-sensitive, and a number that itself looks like text is not
    // searched again.
    QCOMPARE(ReplacePortToken("<comport> <COMPORT><COMPORT>", 0), std::string("<comport> 00"));
  }

  void threeWordsWithThePort() {
    ArgumentVector v;
    BuildArguments(ReplacePortToken("x -uart COM<COMPORT>", 3), v);
    QCOMPARE(v.argc, 3);
    QVERIFY(v.slot[0] == nullptr);
    QCOMPARE(Words(v), (Strings{"-uart", "COM3"}));
  }

  void onlyBlanksSeparate() {
    ArgumentVector blanks;
    BuildArguments("  a   b  ", blanks);
    QCOMPARE(blanks.argc, 2);
    QCOMPARE(Words(blanks), Strings{"b"});

    ArgumentVector tab;
    BuildArguments("x a\tb \"c d\"", tab);
    QCOMPARE(Words(tab), (Strings{"a\tb", "\"c", "d\""}));
  }

  void emptyAndSingleWord() {
    ArgumentVector none;
    BuildArguments("", none);
    QCOMPARE(none.argc, 0);
    ArgumentVector one;
    BuildArguments("   fwp ", one);
    QCOMPARE(one.argc, 1);
    QVERIFY(one.slot[0] == nullptr);
  }

  void moreWordsThanSlots() {
    std::string text;
    for (int i = 0; i < 150; ++i) text += "w" + std::to_string(i) + " ";
    ArgumentVector v;
    BuildArguments(text, v);
    QCOMPARE(v.argc, kArgumentSlots);
    QCOMPARE(std::string(v.slot[99]), std::string("w99"));
  }

  void outcomeRule() {
    QCOMPARE(ChooseOutcome(0, 1), OUTCOME_NOT_COMPLETE);
    QCOMPARE(ChooseOutcome(1, 1), OUTCOME_COMPLETE);
    QCOMPARE(ChooseOutcome(2, 1), OUTCOME_COMPLETE);
    QCOMPARE(ChooseOutcome(3, 1), OUTCOME_NOT_COMPLETE);
    // Any flag but 1 means stopped, whatever the engine returned.
    for (int result : {0, 1, 2, 3}) {
      QCOMPARE(ChooseOutcome(result, 0), OUTCOME_STOPPED);
      QCOMPARE(ChooseOutcome(result, 5), OUTCOME_STOPPED);
    }
  }
};

QTEST_APPLESS_MAIN(UpdateThreadTest)
#include "update_thread_test.moc"
