// The About box: its texts, its layout in dialog units, how it closes; and the dialog units.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "CAboutBox.h"
#include "DialogUnits.h"

TEST(AboutBox, ShowsTheTemplatesTextsAndIconInDialogUnitsOfTheDialogFont) {
  CAboutBox box;
  EXPECT_EQ(box.windowTitle(), "About Movrin Update");
  EXPECT_EQ(box.font(), DialogFont());
  EXPECT_EQ(box.size(), DialogSize(box.font(), 235, 55));
  EXPECT_EQ(box.minimumSize(), box.maximumSize()) << "fixed size";
  struct Control {
    const char* name;
    QRect units;
    const char* text;  // null: any text
  };
  for (const Control& c : {Control{"IDC_VERSION", {40, 10, 119, 8}, "Movrin Update v1.0 beta "},
                           Control{"IDC_SECOND_LINE", {40, 25, 119, 8}, nullptr},
                           Control{"IDOK", {178, 7, 50, 14}, "OK"}}) {
    SCOPED_TRACE(c.name);
    auto* widget = box.findChild<QWidget*>(c.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(),
              DialogRect(box.font(), c.units.x(), c.units.y(), c.units.width(), c.units.height()));
    const auto* label = qobject_cast<QLabel*>(widget);
    const QString text = label ? label->text() : qobject_cast<QPushButton*>(widget)->text();
    EXPECT_TRUE(c.text ? text == c.text : !text.isEmpty()) << text.toStdString();
    EXPECT_TRUE(!label || label->textFormat() == Qt::PlainText) << "no mnemonic processing";
  }
  EXPECT_TRUE(box.findChild<QPushButton*>("IDOK")->isDefault());
  auto* icon = box.findChild<QLabel*>("IDI_APP");
  ASSERT_NE(icon, nullptr);
  EXPECT_FALSE(icon->pixmap().isNull()) << "the icon is in the resources";
  EXPECT_EQ(icon->pos(), DialogRect(box.font(), 11, 17, 20, 20).topLeft());
}

TEST(AboutBox, ClosesByOkEnterEscapeAndTheCloseBox) {
  const auto key = [](int code) {
    return [code](QWidget* box) {
      QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
      QApplication::sendEvent(box, &press);
    };
  };
  struct Way {
    std::function<void(QWidget*)> close;
    int result;
  };
  for (const Way& way :
       {Way{[](QWidget* box) { box->findChild<QPushButton*>("IDOK")->click(); }, QDialog::Accepted},
        Way{key(Qt::Key_Return), QDialog::Accepted}, Way{key(Qt::Key_Escape), QDialog::Rejected},
        Way{[](QWidget* box) { box->close(); }, QDialog::Rejected}}) {
    CAboutBox box;
    QWidget* shown = nullptr;
    QTimer::singleShot(0, [&] {
      shown = QApplication::activeModalWidget();
      if (shown != nullptr) {
        way.close(shown);
      }
    });
    EXPECT_EQ(box.exec(), way.result);
    EXPECT_EQ(shown, &box) << "shown modally";
    EXPECT_FALSE(box.isVisible());
  }
  // The window's About: a fresh modal box over its owner.
  QWidget owner;
  owner.show();
  bool over = false;
  QTimer::singleShot(0, [&] {
    QWidget* shown = QApplication::activeModalWidget();
    over = qobject_cast<CAboutBox*>(shown) != nullptr && shown->parentWidget() == &owner;
    if (shown != nullptr) {
      shown->close();
    }
  });
  ShowAboutBox(&owner);
  EXPECT_TRUE(over);
}

// Expectations come from the font's measured base units, never from the fonts installed.
TEST(DialogUnits, ScaleWithTheFontsAverageLetterAndHeight) {
  const QFont font = DialogFont();
  const QSize base = DialogBaseUnits(font);
  ASSERT_GT(base.width(), 0);
  ASSERT_GT(base.height(), 0);
  // Four horizontal and eight vertical units make one average letter and one line.
  EXPECT_EQ(DialogRect(font, 4, 8, 4, 8),
            QRect(base.width(), base.height(), base.width(), base.height()));
  EXPECT_EQ(DialogSize(font, 400, 800), QSize(100 * base.width(), 100 * base.height()));
  // Each value is scaled and rounded on its own, halves away from zero.
  const auto units = [](int value, int perUnits, int count) {
    return (2 * value * perUnits + count) / (2 * count);
  };
  for (const int v : {1, 2, 3, 5, 286}) {
    EXPECT_EQ(DialogRect(font, v, v, v, v),
              QRect(units(v, base.width(), 4), units(v, base.height(), 8),
                    units(v, base.width(), 4), units(v, base.height(), 8)))
        << v << " units with base " << base.width() << "x" << base.height();
  }
}
