// The About box: its texts, its layout in dialog units, how it opens and closes; and the dialog
// units themselves.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "CAboutBox.h"
#include "DialogUnits.h"

TEST(AboutBox, OpensModallyOverItsOwnerWithTheTemplatesTextsIconAndLayout) {
  QWidget owner;
  owner.show();
  bool shown = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<CAboutBox*>(QApplication::activeModalWidget());
    ASSERT_TRUE(box != nullptr && box->parentWidget() == &owner);
    shown = true;
    EXPECT_EQ(box->windowTitle(), "About Movrin Update");
    EXPECT_EQ(box->font(), DialogFont());
    EXPECT_TRUE(box->size() == DialogSize(box->font(), 235, 55) &&
                box->minimumSize() == box->maximumSize());
    auto* version = box->findChild<QLabel*>("IDC_VERSION");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), "Movrin Update v1.0 beta ") << "with its blank at the end";
    EXPECT_EQ(version->textFormat(), Qt::PlainText) << "no mnemonic processing";
    EXPECT_EQ(version->geometry(), DialogRect(box->font(), 40, 10, 119, 8));
    EXPECT_FALSE(box->findChild<QLabel*>("IDC_SECOND_LINE")->text().isEmpty());
    auto* icon = box->findChild<QLabel*>("IDI_APP");
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull()) << "the icon is in the resources";
    EXPECT_EQ(icon->pos(), DialogRect(box->font(), 11, 17, 20, 20).topLeft());
    auto* ok = box->findChild<QPushButton*>("IDOK");
    EXPECT_TRUE(ok->isDefault() && ok->text() == "OK");
    EXPECT_EQ(ok->geometry(), DialogRect(box->font(), 178, 7, 50, 14));
    ok->click();
    EXPECT_FALSE(box->isVisible()) << "OK closes the box";
    box->reject();
  });
  ShowAboutBox(&owner);
  EXPECT_TRUE(shown);
}

// Expectations come from the font's measured base units, never from the fonts installed.
TEST(DialogUnits, ScaleWithTheFontsAverageLetterAndHeight) {
  const QFont font = DialogFont();
  const QSize base = DialogBaseUnits(font);
  ASSERT_TRUE(base.width() > 0 && base.height() > 0);
  EXPECT_EQ(DialogSize(font, 400, 800), QSize(100 * base.width(), 100 * base.height()));
  // Four horizontal and eight vertical units make one average letter and one line; each value
  // is scaled and rounded on its own, halves away from zero.
  const auto units = [](int value, int perUnits, int count) {
    return (2 * value * perUnits + count) / (2 * count);
  };
  for (const int v : {1, 2, 3, 4, 5, 8, 286}) {
    EXPECT_EQ(DialogRect(font, v, v, v, v),
              QRect(units(v, base.width(), 4), units(v, base.height(), 8),
                    units(v, base.width(), 4), units(v, base.height(), 8)))
        << v << " units with base " << base.width() << "x" << base.height();
  }
}
