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
  const char* text = nullptr;  // set with SetWindowText; an empty one brings the percentage back
};

class LabelledProgressFill : public testing::TestWithParam<FillCase> {};

// The share is a double quotient, multiplied, then truncated: 29 of 100 reads 28%, and at 200
// pixels fills 57 where integer arithmetic would give 58. The caption drawn is the percentage.
TEST_P(LabelledProgressFill, FillWidthAndCaptionFollowTheShareOfTheRange) {
  const FillCase& c = GetParam();
  Bar bar({c.width, 24}, c.lower, c.upper, c.position, c.text);
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
                    FillCase{1000, 1010, 1005, 100, 50, "50%"},
                    FillCase{0, 100, 30, 100, 30, "Busy", "Busy"},
                    FillCase{0, 100, 30, 100, 30, "30%", ""}));

// The letters take the other part's colour on each side of the edge: there they look as on a
// full and on an empty bar, where they show.
TEST(LabelledProgressCtrl, CaptionTakesTheOtherPartsColourOnEachSideOfTheEdge) {
  const auto render = [](int position, const char* caption) {
    return Bar({200, 24}, 0, 100, position, caption).Render();
  };
  const QImage image = render(50, "MMMMMMMMMMMMMMMM");
  const QImage full = render(100, "MMMMMMMMMMMMMMMM");
  const QImage empty = render(0, "MMMMMMMMMMMMMMMM");
  EXPECT_EQ(image.copy(0, 0, 100, 24), full.copy(0, 0, 100, 24));
  EXPECT_EQ(image.copy(100, 0, 100, 24), empty.copy(100, 0, 100, 24));
  EXPECT_NE(full, render(100, " "));
  EXPECT_NE(empty, render(0, " "));
}

// An empty or inverted range leaves the client area alone; a border frames it, and only the area
// inside counts for the fill.
TEST(LabelledProgressCtrl, EmptyRangeDrawsNothingAndABorderFramesTheClientArea) {
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
}

}  // namespace
