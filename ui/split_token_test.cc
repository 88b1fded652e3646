#include "ui/split_token.h"

#include <QTest>

class SplitTokenTest : public QObject {
  Q_OBJECT

 private slots:
  void cutsAtTheFirstSeparator();
  void emptyAndMissingSeparator();
  void separatorFirstGivesEmpty();
};

void SplitTokenTest::cutsAtTheFirstSeparator() {
  std::string source = "USB Serial (COM3) (x)";
  QCOMPARE(SplitToken(source, '(', false), std::string("USB Serial "));
  QCOMPARE(source, std::string("USB Serial (COM3) (x)"));
  QCOMPARE(SplitToken(source, '(', true), std::string("USB Serial "));
  QCOMPARE(source, std::string("COM3) (x)"));
}

void SplitTokenTest::emptyAndMissingSeparator() {
  std::string empty;
  QCOMPARE(SplitToken(empty, ' ', true), std::string());
  QCOMPARE(empty, std::string());

  std::string whole = "COM3";
  QCOMPARE(SplitToken(whole, '(', false), std::string("COM3"));
  QCOMPARE(whole, std::string("COM3"));
  QCOMPARE(SplitToken(whole, '(', true), std::string("COM3"));
  QCOMPARE(whole, std::string());
}

void SplitTokenTest::separatorFirstGivesEmpty() {
  std::string source = "(COM7)";
  QCOMPARE(SplitToken(source, '(', false), std::string());
  QCOMPARE(source, std::string("(COM7)"));
  QCOMPARE(SplitToken(source, '(', true), std::string());
  QCOMPARE(source, std::string("COM7)"));
}

QTEST_APPLESS_MAIN(SplitTokenTest)
#include "split_token_test.moc"
