// The real message boxes: buttons, icon and default by style, the result of the button pressed,
// the caption (the program's name when none is given), and the nested loop that keeps delivering.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "MessageBoxes.h"

TEST(MessageBoxes, StyleChoosesButtonsIconAndDefaultAndThePressedButtonIsReturned) {
  using B = QMessageBox;
  struct Case {
    unsigned style;
    QString caption;
    B::StandardButtons buttons;
    B::Icon icon;
    B::StandardButton byDefault;
    B::StandardButton press;  // NoButton: Escape
    int result;
  };
  const unsigned question =
      movrin::kMessageBoxYesNo | movrin::kMessageBoxIconWarning | movrin::kMessageBoxDefaultButton2;
  for (const Case& c :
       {Case{movrin::kMessageBoxOk, QString(), B::Ok, B::NoIcon, B::Ok, B::Ok, movrin::kResultOk},
        {movrin::kMessageBoxOkExclamation, "Fenwor Updata", B::Ok, B::Warning, B::Ok, B::Ok,
         movrin::kResultOk},
        {movrin::kMessageBoxYesNo, "Lisket Brain", B::Yes | B::No, B::NoIcon, B::Yes, B::Yes,
         movrin::kResultYes},
        {movrin::kMessageBoxYesNo, "", B::Yes | B::No, B::NoIcon, B::Yes, B::No, movrin::kResultNo},
        {question, "", B::Yes | B::No, B::Warning, B::No, B::NoButton, movrin::kResultNo}}) {
    SCOPED_TRACE(c.style);
    // A posted event must reach its receiver while the box is open.
    QObject probe;
    bool delivered = false;
    QTimer::singleShot(0, &probe, [&] { delivered = true; });
    bool shown = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      shown = true;
      EXPECT_TRUE(delivered);
      EXPECT_EQ(box->windowTitle(),
                c.caption.isNull() ? QString(MOVRIN_TEST_PROGRAM_NAME) : c.caption);
      EXPECT_EQ(box->standardButtons(), c.buttons);
      EXPECT_EQ(box->icon(), c.icon);
      EXPECT_EQ(box->standardButton(box->defaultButton()), c.byDefault);
      (c.press == B::NoButton ? box->escapeButton() : box->button(c.press))->click();
    });
    movrin::QtMessageBoxPresenter presenter;
    EXPECT_EQ(presenter.Show(nullptr, "Send the longMSG is err!", c.caption, c.style), c.result);
    EXPECT_TRUE(shown);
  }
}
