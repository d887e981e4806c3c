// The labelled progress bar, checked on the pixels it produces and on the paints it asks for.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <array>

#include "CLabelledProgressCtrl.h"

namespace {

const QColor kMarker(1, 254, 3);  // a colour the bar never uses: untouched pixels stand out
QColor Role(QPalette::ColorRole role) {
  return QApplication::palette().color(role);
}

// A bar of `size` with a window, its range, position and text set.
struct Bar : CLabelledProgressCtrl {
  Bar(QSize size, int lower, int upper, int position, const char* text = nullptr,
      QWidget* parent = nullptr)
      : CLabelledProgressCtrl(parent) {
    resize(size);
    winId();
    SetRange(lower, upper);
    SetPos(position);
    SetWindowText(text);
  }
  // The bar's own paint (of `region`) over kMarker, with nothing drawn beneath, as on screen.
  QImage Render(const QRect& region = QRect()) {
    QImage image(size(), QImage::Format_ARGB32);
    image.fill(kMarker);
    render(&image, region.topLeft(), region.isNull() ? QRegion() : QRegion(region), DrawChildren);
    return image;
  }
};

// The fill, measured on the second row of `client`, above the caption's letters; the rest of the
// row must be background.
int MeasureFill(const QImage& image, const QRect& client) {
  int width = 0;
  while (width < client.width() &&
         image.pixelColor(client.x() + width, client.y() + 1) == Role(QPalette::Highlight)) {
    ++width;
  }
  for (int x = client.x() + width; x <= client.right(); ++x) {
    EXPECT_EQ(image.pixelColor(x, client.y() + 1), Role(QPalette::Base)) << "x=" << x;
  }
  return width;
}

struct FillCase {
  int lower, upper, position, width, fill;
  const char* caption;
};

class LabelledProgressFill : public testing::TestWithParam<FillCase> {};

// The share is a double quotient, multiplied, then truncated: 29 of 100 reads 28%, and at 200
// pixels fills 57 where integer arithmetic would give 58. The caption drawn is the percentage.
TEST_P(LabelledProgressFill, FillWidthAndCaptionFollowTheShareOfTheRange) {
  const FillCase& c = GetParam();
  Bar bar({c.width, 24}, c.lower, c.upper, c.position);
  const QImage image = bar.Render();
  EXPECT_EQ(MeasureFill(image, image.rect()), c.fill);
  EXPECT_EQ(bar.text(), c.caption);
  EXPECT_EQ(image, Bar({c.width, 24}, c.lower, c.upper, c.position, c.caption).Render());
}

INSTANTIATE_TEST_SUITE_P(
    Shares, LabelledProgressFill,
    testing::Values(FillCase{0, 100, 0, 100, 0, "0%"}, FillCase{0, 100, 29, 100, 28, "28%"},
                    FillCase{0, 100, 29, 200, 57, "28%"}, FillCase{0, 100, 58, 100, 57, "57%"},
                    FillCase{0, 100, 100, 100, 100, "100%"}, FillCase{0, 3, 2, 90, 60, "66%"},
                    FillCase{0, 7, -1, 70, 0, "-14%"}, FillCase{0, 7, 10, 70, 70, "142%"},
                    FillCase{-10, 10, 0, 101, 50, "50%"},
                    FillCase{1000, 1010, 1005, 100, 50, "50%"}));

// The letters take the other part's colour on each side of the edge: there they look as on a
// full and on an empty bar, where they show. A strip repainted alone gives the pixels of a whole
// repaint and nothing outside it.
TEST(LabelledProgressCtrl, CaptionTakesTheOtherPartsColourAndStripsRepaintExactly) {
  const auto render = [](int position, const char* caption, const QRect& strip = QRect()) {
    return Bar({200, 24}, 0, 100, position, caption).Render(strip);
  };
  const QImage image = render(50, "MMMMMMMMMMMMMMMM");
  const QImage full = render(100, "MMMMMMMMMMMMMMMM");
  const QImage empty = render(0, "MMMMMMMMMMMMMMMM");
  EXPECT_EQ(image.copy(0, 0, 100, 24), full.copy(0, 0, 100, 24));
  EXPECT_EQ(image.copy(100, 0, 100, 24), empty.copy(100, 0, 100, 24));
  EXPECT_NE(full, render(100, " "));
  EXPECT_NE(empty, render(0, " "));
  for (const QRect strip : {QRect(80, 0, 30, 24), QRect(0, 12, 200, 6), QRect(91, 5, 7, 20)}) {
    QImage expected(image.size(), image.format());
    expected.fill(kMarker);
    for (int y = strip.top(); y <= strip.bottom(); ++y) {
      for (int x = strip.left(); x <= strip.right(); ++x) {
        expected.setPixel(x, y, image.pixel(x, y));
      }
    }
    EXPECT_EQ(render(50, "MMMMMMMMMMMMMMMM", strip), expected) << strip.x() << "," << strip.y();
  }
}

// An empty or inverted range leaves the client area alone; a border frames it, and only the area
// inside counts for the fill. Colours and the caption's font are the bar's own.
TEST(LabelledProgressCtrl, RangeBorderColoursAndFontDrawAsTheControlDid) {
  for (const auto& [upper, border] : {std::pair{0, false}, {-5, false}, {0, true}, {100, true}}) {
    Bar bar({102, 26}, 0, upper, 29);
    bar.SetBorder(border);
    QImage image = bar.Render();
    const QRect client = border ? QRect(1, 1, 100, 24) : image.rect();
    EXPECT_EQ(upper > 0 ? MeasureFill(image, client) : 28, 28) << "29% of the 100 inner pixels";
    QImage expected = image;
    expected.fill(Role(QPalette::WindowText));
    QPainter(&expected).drawImage(client, upper > 0 ? image.copy(client) : QImage());
    if (upper <= 0) {
      QPainter(&expected).fillRect(client, kMarker);
    }
    EXPECT_EQ(image, expected) << upper << " " << border;
  }
  Bar bar({100, 24}, 0, 100, 50);
  const QImage before = bar.Render();
  QPalette other;
  other.setColor(QPalette::Highlight, Qt::red);
  bar.setPalette(other);
  EXPECT_EQ(bar.Render(), before) << "colours are taken once, when the bar is made";
  QWidget parent;
  parent.setFont(QFont(parent.font().family(), 21, QFont::Bold));
  EXPECT_EQ(Bar({100, 24}, 0, 100, 50, nullptr, &parent).Render(), before)
      << "the caption ignores the font the parent hands down";
}

class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint;
    return false;
  }
};

// SetPos repaints at once (the transfer moves the bar from inside its own handler), and only when
// the fill width changes, also after a new size; a range alone repaints nothing.
TEST(LabelledProgressCtrl, RepaintsWhenAndOnlyWhenWhatItShowsChanges) {
  CLabelledProgressCtrl alone;
  EXPECT_EQ(alone.SetPos(40), -1) << "no window yet";
  EXPECT_EQ(alone.text(), "0%");
  QWidget window;
  auto* bar = new CLabelledProgressCtrl(&window);
  bar->resize(50, 24);
  window.show();
  QApplication::processEvents();
  PaintCounter counter;
  bar->installEventFilter(&counter);
  struct Step {
    int upper, position, previous, paints;  // paints counted before any event loop runs
    QSize size;
  };
  // Fill widths 0, 1, 1, 25, 25, then an empty range, then a new size at the same fill width.
  for (const Step& s : {Step{100, 1, 0, 1, {50, 24}},
                        {100, 2, 1, 2, {50, 24}},
                        {100, 3, 2, 2, {50, 24}},
                        {100, 50, 3, 3, {50, 24}},
                        {100, 51, 50, 3, {50, 24}},
                        {0, 5, 51, 3, {50, 24}},
                        {100, 52, 5, 5, {51, 24}}}) {
    bar->SetRange(0, s.upper);
    if (s.size != bar->size()) {
      bar->resize(s.size);
      QApplication::processEvents();  // one paint for the new size
    }
    EXPECT_EQ(bar->SetPos(s.position), s.previous);
    EXPECT_EQ(counter.paints, s.paints) << "after SetPos(" << s.position << ")";
  }
}

}  // namespace
