// The real message boxes: buttons, icon and default by style, the result of the button pressed,
// the caption (the program's name when none is given), and the nested loop that keeps delivering.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "MessageBoxes.h"

namespace {

class PostedEventProbe : public QObject {
 public:
  bool received = false;

 protected:
  bool event(QEvent* e) override {
    received = received || e->type() == QEvent::User;
    return QObject::event(e);
  }
};

}  // namespace

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
        Case{movrin::kMessageBoxOkExclamation, "Fenwor Updata", B::Ok, B::Warning, B::Ok, B::Ok,
             movrin::kResultOk},
        Case{movrin::kMessageBoxYesNo, "Lisket Brain", B::Yes | B::No, B::NoIcon, B::Yes, B::Yes,
             movrin::kResultYes},
        Case{movrin::kMessageBoxYesNo, "", B::Yes | B::No, B::NoIcon, B::Yes, B::No,
             movrin::kResultNo},
        Case{question, "", B::Yes | B::No, B::Warning, B::No, B::NoButton, movrin::kResultNo}}) {
    SCOPED_TRACE(c.style);
    PostedEventProbe probe;
    bool deliveredWhileOpen = false;
    QMessageBox* shown = nullptr;
    QString title;
    B::StandardButtons buttons;
    B::Icon icon = B::NoIcon;
    B::StandardButton byDefault = B::NoButton;
    QCoreApplication::postEvent(&probe, new QEvent(QEvent::User));
    QTimer::singleShot(0, [&] {
      shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (shown == nullptr) {
        return;
      }
      deliveredWhileOpen = probe.received;
      title = shown->windowTitle();
      buttons = shown->standardButtons();
      icon = shown->icon();
      byDefault = shown->standardButton(shown->defaultButton());
      (c.press == B::NoButton ? shown->escapeButton() : shown->button(c.press))->click();
    });
    movrin::QtMessageBoxPresenter presenter;
    EXPECT_EQ(presenter.Show(nullptr, "Send the longMSG is err!", c.caption, c.style), c.result);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(title, c.caption.isNull() ? QString(MOVRIN_TEST_PROGRAM_NAME) : c.caption);
    EXPECT_EQ(buttons, c.buttons);
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(byDefault, c.byDefault);
    EXPECT_TRUE(deliveredWhileOpen) << "posted events reach their receivers while a box is open";
  }
}
