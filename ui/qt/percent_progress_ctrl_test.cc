// The bar's pixels, rendered into images pre-filled with a marker colour so
// that what the bar leaves undrawn shows (also on screens of device pixel
// ratios 1 to 3, which ui/test_screens.json declares to the offscreen
// platform); its text; and its repaint rule.
#include "ui/qt/percent_progress_ctrl.h"

#include <QImage>
#include <QScreen>
#include <QTest>
#include <cmath>

namespace {

const QColor kMarker(255, 0, 255);

QImage Render(CPercentProgressCtrl& bar) {
  QImage image(bar.size(), QImage::Format_RGB32);
  image.fill(kMarker);
  bar.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
  return image;
}

int Distance(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
         std::abs(a.blue() - b.blue());
}

// Pixels of `image` inside `area` that are nearer to `letters` than to
// `ground`: the letters drawn over that ground.
int LetterPixels(const QImage& image, const QRect& area, QColor letters, QColor ground) {
  int n = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (Distance(c, letters) < Distance(c, ground)) ++n;
    }
  return n;
}

QScreen* ScreenWithRatio(qreal ratio) {
  for (QScreen* screen : QGuiApplication::screens())
    if (screen->devicePixelRatio() == ratio) return screen;
  return nullptr;
}

// Device pixels of `image` (at `ratio`) whose colour is none of those that
// `allowed` gives for the pixel's square in logical coordinates; the first
// few of them, for the failure message.
template <typename Allowed>
QString WrongPixels(const QImage& image, qreal ratio, Allowed allowed) {
  QString wrong;
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      if (allowed(QRectF(x / ratio, y / ratio, 1 / ratio, 1 / ratio)).contains(pixel)) continue;
      if (++count <= 4) wrong += QString::asprintf(" (%d,%d)=#%06x", x, y, pixel & 0xffffff);
    }
  }
  return count ? QString::number(count) + " pixels:" + wrong : QString();
}

// Counts the paints that reach the bar.
class CountingBar : public CPercentProgressCtrl {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent* event) override {
    ++paints;
    CPercentProgressCtrl::paintEvent(event);
  }
};

}  // namespace

class PercentProgressCtrlTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    bar = std::make_unique<CountingBar>();
    bar->resize(201, 20);  // client 199 x 18 inside the border
    client = bar->contentsRect();
  }

  void coloursComeFromThePalette() {
    const QPalette p = bar->palette();
    QCOMPARE(bar->barColour, p.color(QPalette::Highlight));
    QCOMPARE(bar->backColour, p.color(QPalette::Base));
    QCOMPARE(bar->textOnBackColour, p.color(QPalette::Highlight));
    QCOMPARE(bar->textOnBarColour, p.color(QPalette::Base));
    QVERIFY(bar->barColour != bar->backColour);
  }

  void newBarIsEmptyAndShowsZero() {
    QCOMPARE(bar->text(), QString("0%"));
    const QImage image = Render(*bar);
    QCOMPARE(LetterPixels(image, client, bar->barColour, bar->backColour) > 0, true);  // "0%"
    // Only the empty part and its letters: the edges hold no fill.
    QCOMPARE(image.pixelColor(client.left(), client.top()), bar->backColour);
    QCOMPARE(image.pixelColor(client.right(), client.bottom()), bar->backColour);
    QVERIFY(image.pixelColor(0, 0) != kMarker);  // the border
  }

  void halfFilledWithTwoColouredText() {
    bar->SetRange(0, 1000);
    bar->SetPos(500);
    QCOMPARE(bar->text(), QString("50%"));
    const QImage image = Render(*bar);
    const int split = client.left() + 99;  // 199 * 0.5, truncated
    QCOMPARE(image.pixelColor(client.left(), client.top()), bar->barColour);
    QCOMPARE(image.pixelColor(split - 1, client.top()), bar->barColour);
    QCOMPARE(image.pixelColor(split, client.top()), bar->backColour);
    QCOMPARE(image.pixelColor(client.right(), client.bottom()), bar->backColour);
    // "50%" straddles the split: letters in the base colour over the fill,
    // in the highlight colour over the empty part.
    const QRect filled(client.topLeft(), QPoint(split - 1, client.bottom()));
    const QRect empty(QPoint(split, client.top()), client.bottomRight());
    QVERIFY(LetterPixels(image, filled, bar->textOnBarColour, bar->barColour) > 5);
    QVERIFY(LetterPixels(image, empty, bar->textOnBackColour, bar->backColour) > 5);
    for (int y = client.top(); y <= client.bottom(); ++y) {
      for (int x = client.left(); x <= client.right(); ++x) {
        const QColor c = image.pixelColor(x, y);
        QVERIFY2(c != kMarker, "every client pixel is painted");
      }
    }
  }

  // Inside a window, as in the progress window: every device pixel of the
  // bar is its border, its fill or its empty part (no pixel left as the
  // buffer or the window held it), at each device pixel ratio.
  void coversEveryDevicePixel_data() {
    QTest::addColumn<qreal>("ratio");
    for (qreal ratio : {1.0, 1.25, 1.5, 2.0, 3.0}) QTest::addRow("%g", ratio) << ratio;
  }
  void coversEveryDevicePixel() {
    QFETCH(qreal, ratio);
    QScreen* screen = ScreenWithRatio(ratio);
    QVERIFY2(screen, "ui/test_screens.json declares a screen of each ratio");
    const QColor windowColour(0, 160, 0);
    QWidget window;
    window.setScreen(screen);
    window.move(screen->geometry().topLeft() + QPoint(40, 40));
    window.setFixedSize(216, 32);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, windowColour);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    auto* inner = new CPercentProgressCtrl(&window);
    // The bar's top-left corner falls on a device pixel's corner at every
    // ratio; its right and bottom edges, the client's edges and the split
    // fall inside device pixels at 1.25 and 1.5.
    const QRect barArea(8, 8, 201, 15);
    inner->setGeometry(barArea);
    inner->SetRange(0, 1000);
    inner->SetPos(333);
    inner->SetWindowText(" ");  // no letters: every pixel is a fill
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(inner->devicePixelRatioF(), ratio);

    QImage image(std::ceil(window.width() * ratio), std::ceil(window.height() * ratio),
                 QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(kMarker);
    window.render(&image);

    const QRect inside = barArea.adjusted(1, 1, -1, -1);
    const BarLayout layout = ComputeBarLayout(inside, 0, 1000, 333, " ");
    QCOMPARE(layout.filled.width(), 66);  // 199 x 0.333, truncated
    const QRgb frame = inner->palette().color(QPalette::Dark).rgb();
    const auto allowed = [&](const QRectF& square) {
      QList<QRgb> colours;
      if (!QRectF(barArea).contains(square)) colours << windowColour.rgb();
      if (QRectF(barArea).intersects(square) && !QRectF(inside).contains(square)) colours << frame;
      if (QRectF(layout.filled).intersects(square)) colours << inner->barColour.rgb();
      if (QRectF(layout.empty).intersects(square)) colours << inner->backColour.rgb();
      return colours;
    };
    const QString wrong = WrongPixels(image, ratio, allowed);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
  }

  void nearlyAndWhollyFull() {
    bar->SetRange(0, 1000);
    bar->SetPos(999);
    QCOMPARE(bar->text(), QString("99%"));
    bar->SetPos(1000);
    QCOMPARE(bar->text(), QString("100%"));
    const QImage image = Render(*bar);
    // Full to the right edge, the letters in the colour over the fill.
    QCOMPARE(image.pixelColor(client.right(), client.bottom()), bar->barColour);
    QCOMPARE(image.pixelColor(client.right(), client.top()), bar->barColour);
    QVERIFY(LetterPixels(image, client, bar->textOnBarColour, bar->barColour) > 5);
  }

  void percentageIsTruncated() {
    BarLayout layout = ComputeBarLayout(QRect(0, 0, 100, 10), 0, 3, 2, QString());
    QCOMPARE(layout.text, QString("66%"));
    QCOMPARE(layout.filled, QRect(0, 0, 66, 10));
    QCOMPARE(layout.empty, QRect(66, 0, 34, 10));
    layout = ComputeBarLayout(QRect(5, 2, 100, 10), 10, 20, 10, QString());
    QCOMPARE(layout.filled.width(), 0);
    QCOMPARE(layout.empty, QRect(5, 2, 100, 10));
  }

  void emptyRangeDrawsNothing() {
    for (auto [lower, upper] : {std::pair{0, 0}, std::pair{10, 5}}) {
      bar->SetRange(lower, upper);
      bar->SetPos(3);  // must not fault
      const QImage image = Render(*bar);
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) QCOMPARE(image.pixelColor(x, y), kMarker);
    }
    // Far outside the range: the widths saturate instead of overflowing.
    QCOMPARE(FilledWidth(199, 0, 1, 2000000000), 2147483647);
    QCOMPARE(FilledWidth(199, 0, 0, 5), 0);
  }

  void overrideTextReplacesThePercentage() {
    const QImage percentage = Render(*bar);
    bar->SetWindowText("Wait");
    QCOMPARE(bar->GetWindowText(), QString("Wait"));
    QCOMPARE(bar->text(), QString("Wait"));
    QVERIFY(Render(*bar) != percentage);
    bar->SetWindowText(QString());
    QCOMPARE(bar->text(), QString("0%"));
    QCOMPARE(Render(*bar), percentage);
  }

  void repaintsOnlyWhenTheFilledWidthChanges() {
    bar->show();
    QVERIFY(QTest::qWaitForWindowExposed(bar.get()));
    QTest::qWait(20);
    const int start = bar->paints;
    bar->SetRange(0, 1000);
    QCOMPARE(bar->paints, start);  // SetRange alone does not repaint
    QCOMPARE(bar->SetPos(500), 0);
    QCOMPARE(bar->paints, start + 1);  // at once, not queued
    QCOMPARE(bar->SetPos(501), 500);   // 99.699 px: the same pixel
    QCOMPARE(bar->paints, start + 1);
    bar->SetPos(506);  // 100.69 px
    QCOMPARE(bar->paints, start + 2);
    bar->resize(301, 20);
    QTest::qWait(20);
    const int resized = bar->paints;
    bar->SetPos(506);  // same position, but the width is unknown after a resize
    QCOMPARE(bar->paints, resized + 1);
  }

 private:
  std::unique_ptr<CountingBar> bar;
  QRect client;
};

int main(int argc, char** argv) {
  // The offscreen platform with one screen of each device pixel ratio; the
  // first, of ratio 1, is the primary screen.
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" VELMORA_TEST_SCREENS);
  QApplication app(argc, argv);
  PercentProgressCtrlTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "percent_progress_ctrl_test.moc"
