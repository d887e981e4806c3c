// The labelled progress bar, checked on the pixels it produces and on the paints it asks for.

#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QPalette>
#include <QRegion>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>

#include "CLabelledProgressCtrl.h"

// Readable values in failure messages.
void PrintTo(const QColor& colour, std::ostream* out) {
  *out << colour.name().toStdString();
}
void PrintTo(const QRect& rect, std::ostream* out) {
  *out << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height();
}

namespace {

// A colour the bar never uses, so untouched pixels stand out.
const QColor kMarker(1, 254, 3);

QColor BarColour() {
  return QApplication::palette().color(QPalette::Highlight);
}
QColor BackgroundColour() {
  return QApplication::palette().color(QPalette::Base);
}

// Renders the bar (or the given part of it) over an image filled with kMarker. The bar's own
// paint is the only thing drawn: no background, as on screen.
QImage Render(CLabelledProgressCtrl& bar, const QRegion& region = QRegion()) {
  QImage image(bar.size(), QImage::Format_ARGB32);
  image.fill(kMarker);
  bar.render(&image, region.boundingRect().topLeft(), region, QWidget::DrawChildren);
  return image;
}

int CountPixels(const QImage& image, const QRect& area, const QColor& colour) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      count += image.pixelColor(x, y) == colour ? 1 : 0;
    }
  }
  return count;
}

// How far `colour` lies from `from` toward `to` (0 to 1), or -1 when it is not a mix of the two.
// Antialiased letters are such mixes of the letter colour and the colour below them.
double MixShare(const QColor& colour, const QColor& from, const QColor& to) {
  double share = -1.0;
  for (const auto& [c, f, t] : std::array{std::tuple{colour.red(), from.red(), to.red()},
                                          std::tuple{colour.green(), from.green(), to.green()},
                                          std::tuple{colour.blue(), from.blue(), to.blue()}}) {
    if (std::abs(t - f) < 24) {
      if (std::abs(c - f) > 8) {
        return -1.0;
      }
      continue;
    }
    const double channelShare = double(c - f) / double(t - f);
    if (channelShare < -0.05 || channelShare > 1.05 ||
        (share >= 0.0 && std::abs(channelShare - share) > 0.15)) {
      return -1.0;
    }
    share = std::max(share, channelShare);
  }
  return std::max(share, 0.0);
}

// The strongest letter pixel in `area` drawn in `letters` over `ground`: 1 for a letter pixel
// in exactly that colour, 0 when there are no letters, -1 when some pixel is no such mix.
double StrongestLetter(const QImage& image, const QRect& area, const QColor& ground,
                       const QColor& letters) {
  double strongest = 0.0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const double share = MixShare(image.pixelColor(x, y), ground, letters);
      if (share < 0.0) {
        return -1.0;
      }
      strongest = std::max(strongest, share);
    }
  }
  return strongest;
}

// The second row of the client area lies above the caption's letters: it shows the fill alone.
int MeasureFill(const QImage& image, const QRect& client) {
  const int y = client.top() + 1;
  int width = 0;
  while (width < client.width() && image.pixelColor(client.left() + width, y) == BarColour()) {
    ++width;
  }
  for (int x = client.left() + width; x <= client.right(); ++x) {
    if (image.pixelColor(x, y) != BackgroundColour()) {
      ADD_FAILURE() << "row " << y << " at x=" << x << " is neither filled nor background";
      return -1;
    }
  }
  return width;
}

int MeasureFill(const QImage& image) {
  return MeasureFill(image, image.rect());
}

// A bar whose caption is forced to `text`, everything else as `bar`: draws what the bar should.
QImage RenderWithCaption(const CLabelledProgressCtrl& bar, int lower, int upper, int position,
                         const char* text) {
  CLabelledProgressCtrl twin;
  twin.resize(bar.size());
  twin.winId();
  twin.SetRange(lower, upper);
  twin.SetPos(position);
  twin.SetWindowText(text);
  return Render(twin);
}

class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    paints += event->type() == QEvent::Paint ? 1 : 0;
    return false;
  }
};

// A bar shown in a top-level window, so that repaints reach the (off-screen) screen.
struct ShownBar {
  explicit ShownBar(QSize size) {
    bar = new CLabelledProgressCtrl(&window);
    bar->setGeometry(QRect(QPoint(10, 10), size));
    window.resize(size.width() + 20, size.height() + 20);
    window.show();
    QApplication::processEvents();
    counter = std::make_unique<PaintCounter>(bar);
  }
  QWidget window;
  CLabelledProgressCtrl* bar = nullptr;  // owned by window
  std::unique_ptr<PaintCounter> counter;
};

constexpr QSize kSize(100, 24);

}  // namespace

TEST(LabelledProgressCtrl, NewBarIsBackgroundWithZeroPercentInBarColour) {
  CLabelledProgressCtrl bar;
  bar.resize(kSize);
  const QImage image = Render(bar);

  EXPECT_EQ(bar.text(), "0%");
  EXPECT_EQ(MeasureFill(image), 0);
  EXPECT_GT(StrongestLetter(image, image.rect(), BackgroundColour(), BarColour()), 0.5)
      << "the caption is drawn in the bar colour over the background";
  // The letters sit in the middle: the outer columns are plain background.
  EXPECT_EQ(CountPixels(image, QRect(0, 0, 30, kSize.height()), BackgroundColour()),
            30 * kSize.height());
  EXPECT_EQ(CountPixels(image, QRect(70, 0, 30, kSize.height()), BackgroundColour()),
            30 * kSize.height());
  EXPECT_EQ(image, RenderWithCaption(bar, 0, 100, 0, "0%"));
}

struct FillCase {
  int lower;
  int upper;
  int position;
  int width;
  int fill;  // pixels; the whole width when the position is above the range
  const char* caption;
};

class LabelledProgressFill : public testing::TestWithParam<FillCase> {};

TEST_P(LabelledProgressFill, FillWidthAndCaptionFollowTheShareOfTheRange) {
  const FillCase& c = GetParam();
  CLabelledProgressCtrl bar;
  bar.resize(c.width, kSize.height());
  bar.winId();
  bar.SetRange(c.lower, c.upper);
  bar.SetPos(c.position);
  const QImage image = Render(bar);

  EXPECT_EQ(MeasureFill(image), c.fill);
  EXPECT_EQ(bar.text(), c.caption);
  EXPECT_EQ(image, RenderWithCaption(bar, c.lower, c.upper, c.position, c.caption))
      << "the drawn caption is " << c.caption;
}

// The share is a double quotient, multiplied, then truncated: 29 of 100 reads 28%, and at 200
// pixels fills 57 where integer arithmetic would give 58.
INSTANTIATE_TEST_SUITE_P(
    Shares, LabelledProgressFill,
    testing::Values(FillCase{0, 100, 29, 100, 28, "28%"}, FillCase{0, 100, 29, 200, 57, "28%"},
                    FillCase{0, 100, 57, 100, 56, "56%"}, FillCase{0, 100, 58, 100, 57, "57%"},
                    FillCase{0, 100, 100, 100, 100, "100%"}, FillCase{0, 3, 1, 90, 30, "33%"},
                    FillCase{0, 3, 2, 90, 60, "66%"}, FillCase{0, 7, -1, 70, 0, "-14%"},
                    FillCase{0, 7, 10, 70, 70, "142%"}, FillCase{-10, 10, 0, 101, 50, "50%"},
                    FillCase{1000, 1010, 1005, 100, 50, "50%"}));

TEST(LabelledProgressCtrl, CaptionTakesTheOtherPartsColourOnEachSideOfTheEdge) {
  CLabelledProgressCtrl bar;
  bar.resize(200, kSize.height());
  bar.winId();
  bar.SetWindowText("MMMMMMMMMMMMMMMM");  // wide enough to cross the edge at 100
  bar.SetPos(50);
  const QImage image = Render(bar);

  const QRect filled(0, 0, 100, kSize.height());
  const QRect rest(100, 0, 100, kSize.height());
  EXPECT_GT(StrongestLetter(image, filled, BarColour(), BackgroundColour()), 0.5)
      << "letters on the fill take the background colour";
  EXPECT_GT(StrongestLetter(image, rest, BackgroundColour(), BarColour()), 0.5)
      << "letters on the background take the bar colour";
}

TEST(LabelledProgressCtrl, FullBarShowsTheCaptionOnlyInTheBackgroundColour) {
  CLabelledProgressCtrl bar;
  bar.resize(kSize);
  bar.winId();
  bar.SetPos(100);
  const QImage image = Render(bar);
  EXPECT_EQ(MeasureFill(image), kSize.width());
  EXPECT_GT(StrongestLetter(image, image.rect(), BarColour(), BackgroundColour()), 0.5);
}

class LabelledProgressStrip : public testing::TestWithParam<QRect> {};

TEST_P(LabelledProgressStrip, RepaintingAStripGivesTheSamePixelsAsAWholeRepaint) {
  CLabelledProgressCtrl bar;
  bar.resize(200, 30);
  bar.winId();
  bar.SetWindowText("Strip caption crossing the edge");
  bar.SetPos(47);
  const QImage whole = Render(bar);
  const QRect strip = GetParam();
  const QImage part = Render(bar, QRegion(strip));

  for (int y = 0; y < whole.height(); ++y) {
    for (int x = 0; x < whole.width(); ++x) {
      const QColor expected = strip.contains(x, y) ? whole.pixelColor(x, y) : kMarker;
      ASSERT_EQ(part.pixelColor(x, y), expected) << "at " << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Strips, LabelledProgressStrip,
                         testing::Values(QRect(80, 0, 30, 30), QRect(0, 12, 200, 6),
                                         QRect(91, 5, 7, 20), QRect(150, 0, 50, 30),
                                         QRect(0, 0, 1, 1)),
                         [](const testing::TestParamInfo<QRect>& info) {
                           const QRect& r = info.param;
                           return "x" + std::to_string(r.x()) + "y" + std::to_string(r.y()) + "w" +
                                  std::to_string(r.width()) + "h" + std::to_string(r.height());
                         });

TEST(LabelledProgressCtrl, EmptyOrInvertedRangeDrawsNothing) {
  for (const auto& [lower, upper] : std::array{std::pair{0, 0}, std::pair{5, 3}}) {
    CLabelledProgressCtrl bar;
    bar.resize(kSize);
    bar.winId();
    bar.SetRange(lower, upper);
    bar.SetPos(4);
    const QImage image = Render(bar);
    EXPECT_EQ(CountPixels(image, image.rect(), kMarker), kSize.width() * kSize.height())
        << lower << ".." << upper;
  }
}

TEST(LabelledProgressCtrl, ColoursAreTakenOnceWhenTheBarIsMade) {
  CLabelledProgressCtrl bar;
  bar.resize(kSize);
  bar.winId();
  bar.SetPos(50);
  QPalette other;
  other.setColor(QPalette::Highlight, Qt::red);
  other.setColor(QPalette::Base, Qt::black);
  bar.setPalette(other);
  EXPECT_EQ(MeasureFill(Render(bar)), 50);
}

TEST(LabelledProgressCtrl, CaptionIgnoresTheFontItsParentHandsDown) {
  QWidget parent;
  QFont large = parent.font();
  large.setPixelSize(21);
  large.setBold(true);
  parent.setFont(large);
  auto* child = new CLabelledProgressCtrl(&parent);
  child->resize(kSize);
  child->winId();
  child->SetPos(37);

  CLabelledProgressCtrl alone;
  alone.resize(kSize);
  alone.winId();
  alone.SetPos(37);
  EXPECT_EQ(Render(*child), Render(alone));
}

TEST(LabelledProgressCtrl, SetPosWithoutAWindowReturnsMinusOneAndStoresNothing) {
  CLabelledProgressCtrl bar;
  bar.resize(kSize);
  EXPECT_EQ(bar.SetPos(40), -1);
  EXPECT_EQ(bar.text(), "0%");
  bar.winId();
  EXPECT_EQ(bar.SetPos(41), 0);
  EXPECT_EQ(bar.SetPos(42), 41);
}

TEST(LabelledProgressCtrl, SetPosRepaintsAtOnceOnlyWhenTheFillWidthChanges) {
  ShownBar shown(QSize(50, kSize.height()));
  CLabelledProgressCtrl& bar = *shown.bar;
  const int& paints = shown.counter->paints;

  struct Step {
    int position;
    int previous;
    int paintsAfter;  // counted before any event is processed
  };
  // Fill widths 0, 1, 1, 25, 25: a paint for each change, none while the width stays.
  for (const Step& step :
       {Step{1, 0, 1}, Step{2, 1, 2}, Step{3, 2, 2}, Step{50, 3, 3}, Step{51, 50, 3}}) {
    EXPECT_EQ(bar.SetPos(step.position), step.previous);
    EXPECT_EQ(paints, step.paintsAfter) << "after SetPos(" << step.position << ")";
  }
  QApplication::processEvents();
  EXPECT_EQ(paints, 3) << "nothing was left queued either";
}

TEST(LabelledProgressCtrl, UnchangedFillKeepsTheOldCaptionOnScreen) {
  ShownBar shown(QSize(50, kSize.height()));
  CLabelledProgressCtrl& bar = *shown.bar;
  bar.SetPos(2);
  bar.SetPos(3);
  QApplication::processEvents();
  const QImage onScreen = shown.window.screen()
                              ->grabWindow(shown.window.winId(), 10, 10, 50, kSize.height())
                              .toImage()
                              .convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(onScreen, RenderWithCaption(bar, 0, 100, 2, "2%"));
  EXPECT_NE(onScreen, RenderWithCaption(bar, 0, 100, 3, "3%"));
}

TEST(LabelledProgressCtrl, SizeChangeMakesTheNextSetPosRepaint) {
  ShownBar shown(kSize);
  CLabelledProgressCtrl& bar = *shown.bar;
  bar.SetPos(50);
  QApplication::processEvents();
  const int before = shown.counter->paints;
  EXPECT_EQ(bar.SetPos(50), 50);
  EXPECT_EQ(shown.counter->paints, before) << "same fill width";

  bar.resize(kSize.width() + 1, kSize.height());  // 50% of 101 is still 50 pixels
  QApplication::processEvents();
  const int afterResize = shown.counter->paints;
  bar.SetPos(50);
  EXPECT_EQ(shown.counter->paints, afterResize + 1);
}

TEST(LabelledProgressCtrl, RangeChangesAloneRepaintNothing) {
  ShownBar shown(kSize);
  CLabelledProgressCtrl& bar = *shown.bar;
  const int before = shown.counter->paints;
  bar.SetRange(0, 7);
  QApplication::processEvents();
  EXPECT_EQ(shown.counter->paints, before);

  bar.SetRange(0, 0);
  EXPECT_EQ(bar.SetPos(5), 0);
  EXPECT_EQ(bar.SetPos(6), 5) << "the position is stored even with an empty range";
  QApplication::processEvents();
  EXPECT_EQ(shown.counter->paints, before);
}

TEST(LabelledProgressCtrl, SetTextRepaintsLaterAndOnlyWhenTheTextChanges) {
  ShownBar shown(kSize);
  CLabelledProgressCtrl& bar = *shown.bar;
  const int& paints = shown.counter->paints;
  struct Step {
    const char* text;
    bool repaints;
    const char* shown;
  };
  for (const Step& step :
       {Step{nullptr, false, "0%"}, Step{"", false, "0%"}, Step{"Busy", true, "Busy"},
        Step{"Busy", false, "Busy"}, Step{"Busy!", true, "Busy!"}, Step{nullptr, true, "0%"}}) {
    const int before = paints;
    bar.SetWindowText(step.text);
    EXPECT_EQ(paints, before) << "no paint inside the call";
    QApplication::processEvents();
    EXPECT_EQ(paints, before + (step.repaints ? 1 : 0)) << (step.text ? step.text : "(null)");
    EXPECT_EQ(bar.text(), step.shown);
  }
}

TEST(LabelledProgressCtrl, GetTextCopiesTheCaptionCutToTheBuffer) {
  struct Case {
    const char* caption;
    int size;
    const char* copied;
    int result;
  };
  for (const Case& c : {Case{"ABCDEFGH", 8, "ABCDEFG", 7}, Case{"ABCDEFGH", 9, "ABCDEFGH", 8},
                        Case{"ABCDEFGH", 1, "", 0}, Case{"", 8, "", 0}, Case{nullptr, 8, "", 0},
                        Case{"abc", 8, "abc", 3}}) {
    CLabelledProgressCtrl bar;
    bar.SetWindowText(c.caption);
    std::array<char, 12> buffer{};
    buffer.fill('x');
    EXPECT_EQ(bar.GetWindowText(buffer.data(), c.size), c.result) << c.caption;
    EXPECT_STREQ(buffer.data(), c.copied);
    EXPECT_EQ(buffer[std::strlen(c.copied) + 1], 'x') << "nothing written past the zero";
  }

  CLabelledProgressCtrl bar;
  bar.SetWindowText("ABC");
  std::array<char, 4> untouched{'x', 'x', 'x', 'x'};
  EXPECT_EQ(bar.GetWindowText(nullptr, 8), 0);
  EXPECT_EQ(bar.GetWindowText(untouched.data(), 0), 0);
  EXPECT_EQ(untouched[0], 'x');
}

TEST(LabelledProgressCtrl, SetTextShowsTheTextInsteadOfThePercentage) {
  CLabelledProgressCtrl bar;
  bar.resize(kSize);
  bar.winId();
  bar.SetPos(30);
  const QImage percentage = Render(bar);
  bar.SetWindowText("Busy");
  EXPECT_EQ(bar.text(), "Busy");
  const QImage busy = Render(bar);
  EXPECT_NE(busy, percentage);
  EXPECT_EQ(MeasureFill(busy), 30);
  bar.SetWindowText("");
  EXPECT_EQ(Render(bar), percentage);
}

TEST(LabelledProgressCtrl, BorderFramesTheClientAreaWhichAloneCountsForTheFill) {
  const QColor frame = QApplication::palette().color(QPalette::WindowText);
  const QRect client(1, 1, 100, kSize.height());
  for (const auto& [lower, upper] : std::array{std::pair{0, 100}, std::pair{0, 0}}) {
    CLabelledProgressCtrl bar;
    bar.SetBorder(true);
    bar.resize(client.width() + 2, client.height() + 2);
    bar.winId();
    bar.SetRange(lower, upper);
    bar.SetPos(29);
    const QImage image = Render(bar);

    const QRect outer = image.rect();
    int framePixels = 0;
    for (int x = 0; x < outer.width(); ++x) {
      framePixels +=
          (image.pixelColor(x, 0) == frame) + (image.pixelColor(x, outer.bottom()) == frame);
    }
    for (int y = 1; y < outer.height() - 1; ++y) {
      framePixels +=
          (image.pixelColor(0, y) == frame) + (image.pixelColor(outer.right(), y) == frame);
    }
    EXPECT_EQ(framePixels, 2 * outer.width() + 2 * (outer.height() - 2)) << lower << ".." << upper;
    if (lower < upper) {
      EXPECT_EQ(MeasureFill(image, client), 28) << "29% of a 100-pixel client area";
    } else {
      EXPECT_EQ(CountPixels(image, client, kMarker), client.width() * client.height())
          << "an empty range leaves the client area alone";
    }
  }
}
