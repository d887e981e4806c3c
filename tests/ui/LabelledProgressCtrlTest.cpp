// The labelled progress bar, checked on the pixels it produces and on the paints it asks for.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QRegion>
#include <array>
#include <cstring>
#include <memory>

#include "CLabelledProgressCtrl.h"

namespace {

const QColor kMarker(1, 254, 3);  // a colour the bar never uses: untouched pixels stand out
QColor BarColour() {
  return QApplication::palette().color(QPalette::Highlight);
}
QColor BackgroundColour() {
  return QApplication::palette().color(QPalette::Base);
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
  QImage Render(const QRegion& region = QRegion()) {
    QImage image(size(), QImage::Format_ARGB32);
    image.fill(kMarker);
    render(&image, region.boundingRect().topLeft(), region, QWidget::DrawChildren);
    return image;
  }
};

// Pixels of a row above the caption's letters that are the fill; the rest must be background.
int MeasureFill(const QImage& image, const QRect& client) {
  const int y = client.top() + 1;
  int width = 0;
  while (width < client.width() && image.pixelColor(client.left() + width, y) == BarColour()) {
    ++width;
  }
  for (int x = client.left() + width; x <= client.right(); ++x) {
    EXPECT_EQ(image.pixelColor(x, y), BackgroundColour()) << "x=" << x;
  }
  return width;
}

// Letters in `letters` over `ground`, antialiased: every pixel of `area` lies between the two
// colours, and some lie nearer the letters.
bool LettersOver(const QImage& image, const QRect& area, const QColor& ground,
                 const QColor& letters) {
  const auto distance = [](const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
  };
  bool strong = false;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (distance(c, ground) + distance(c, letters) > distance(ground, letters) + 12) {
        return false;
      }
      strong = strong || distance(c, ground) * 2 > distance(ground, letters);
    }
  }
  return strong;
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

TEST(LabelledProgressCtrl, CaptionTakesTheOtherPartsColourOnEachSideOfTheEdge) {
  Bar half({200, 24}, 0, 100, 50, "MMMMMMMMMMMMMMMM");  // wide enough to cross the edge
  const QImage image = half.Render();
  EXPECT_TRUE(LettersOver(image, {0, 0, 100, 24}, BarColour(), BackgroundColour()));
  EXPECT_TRUE(LettersOver(image, {100, 0, 100, 24}, BackgroundColour(), BarColour()));
  // A strip repainted alone gives the pixels of a whole repaint, and nothing outside it.
  for (const QRect strip : {QRect(80, 0, 30, 24), QRect(0, 12, 200, 6), QRect(91, 5, 7, 20)}) {
    const QImage part = half.Render(strip);
    for (int y = 0; y < 24; ++y) {
      for (int x = 0; x < 200; ++x) {
        ASSERT_EQ(part.pixel(x, y), strip.contains(x, y) ? image.pixel(x, y) : kMarker.rgba())
            << x << "," << y;
      }
    }
  }
}

TEST(LabelledProgressCtrl, EmptyOrInvertedRangeDrawsNothingAndABorderFramesTheClientArea) {
  const QColor frame = QApplication::palette().color(QPalette::WindowText);
  for (const auto& [upper, border] : {std::pair{0, false}, {-5, false}, {0, true}, {100, true}}) {
    Bar bar({102, 26}, 0, upper, 29);
    bar.SetBorder(border);
    const QImage image = bar.Render();
    const QRect client = border ? QRect(1, 1, 100, 24) : image.rect();
    int marked = 0, framed = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        marked += image.pixelColor(x, y) == kMarker;
        framed += !client.contains(x, y) && image.pixelColor(x, y) == frame;
      }
    }
    EXPECT_EQ(framed, border ? 2 * 102 + 2 * 24 : 0) << upper;
    if (upper > 0) {
      EXPECT_EQ(MeasureFill(image, client), 28) << "29% of the 100 pixels inside the frame";
    } else {
      EXPECT_EQ(marked, 100 * 24 + (border ? 0 : 2 * 102 + 2 * 24))
          << "the client area is left alone";
    }
  }
}

TEST(LabelledProgressCtrl, ColoursAndCaptionFontAreTheBarsOwn) {
  Bar bar({100, 24}, 0, 100, 50);
  const QImage before = bar.Render();
  QPalette other;
  other.setColor(QPalette::Highlight, Qt::red);
  other.setColor(QPalette::Base, Qt::black);
  bar.setPalette(other);
  EXPECT_EQ(bar.Render(), before) << "colours are taken once, when the bar is made";
  QWidget parent;
  QFont large = parent.font();
  large.setPixelSize(21);
  parent.setFont(large);
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

TEST(LabelledProgressCtrl, SetPosRepaintsAtOnceOnlyWhenTheFillWidthChanges) {
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
    int lower, upper, position, previous, paints;  // paints counted before any event loop
  };
  // Fill widths 0, 1, 1, 25, 25; a range alone repaints nothing, an empty one never.
  for (const Step& s : {Step{0, 100, 1, 0, 1},
                        {0, 100, 2, 1, 2},
                        {0, 100, 3, 2, 2},
                        {0, 100, 50, 3, 3},
                        {0, 100, 51, 50, 3},
                        {0, 0, 5, 51, 3},
                        {0, 0, 6, 5, 3}}) {
    bar->SetRange(s.lower, s.upper);
    EXPECT_EQ(bar->SetPos(s.position), s.previous);
    EXPECT_EQ(counter.paints, s.paints) << "after SetPos(" << s.position << ")";
  }
  QApplication::processEvents();
  EXPECT_EQ(counter.paints, 3) << "nothing was left queued either";
  // A new size makes the next SetPos repaint, even at the same fill width.
  bar->SetRange(0, 100);
  bar->resize(51, 24);
  QApplication::processEvents();
  const int afterResize = counter.paints;
  bar->SetPos(6);
  EXPECT_EQ(counter.paints, afterResize + 1);

  // A changed text repaints later, an unchanged one never; an empty one is the percentage.
  struct TextStep {
    const char* text;
    bool repaints;
    const char* shown;
  };
  for (const TextStep& t : {TextStep{nullptr, false, "6%"},
                            {"", false, "6%"},
                            {"Busy", true, "Busy"},
                            {"Busy", false, "Busy"},
                            {nullptr, true, "6%"}}) {
    const int before = counter.paints;
    bar->SetWindowText(t.text);
    EXPECT_EQ(counter.paints, before) << "no paint inside the call";
    QApplication::processEvents();
    EXPECT_EQ(counter.paints, before + t.repaints) << (t.text ? t.text : "(null)");
    EXPECT_EQ(bar->text(), t.shown);
  }
}

TEST(LabelledProgressCtrl, GetTextCopiesTheCaptionCutToTheBuffer) {
  struct Case {
    const char* caption;
    int size;
    const char* copied;
  };
  for (const Case& c : {Case{"ABCDEFGH", 8, "ABCDEFG"},
                        {"ABCDEFGH", 9, "ABCDEFGH"},
                        {"ABCDEFGH", 1, ""},
                        {nullptr, 8, ""},
                        {"ABC", 0, "xxxxxxxxxxx"}}) {
    CLabelledProgressCtrl bar;
    bar.SetWindowText(c.caption);
    std::array<char, 12> buffer{};
    buffer.fill('x');
    buffer.back() = '\0';
    EXPECT_EQ(bar.GetWindowText(buffer.data(), c.size),
              c.size > 0 ? int(std::strlen(c.copied)) : 0);
    EXPECT_STREQ(buffer.data(), c.copied) << c.caption;
    EXPECT_EQ(bar.GetWindowText(nullptr, 8), 0);
  }
}

}  // namespace
