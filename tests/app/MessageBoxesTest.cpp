// The real message boxes: buttons and icon by style, the result of the button pressed, the
// caption (the program's name when none is given), and the nested loop that keeps delivering.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "MessageBoxes.h"

namespace {

class PostedEventProbe : public QObject {
 public:
  bool received = false;

 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) {
      received = true;
      return true;
    }
    return QObject::event(e);
  }
};

}  // namespace

TEST(MessageBoxes, ApplicationNameIsTheProgramFileWithoutItsExtension) {
  EXPECT_EQ(movrin::ApplicationName(), MOVRIN_TEST_PROGRAM_NAME);
}

TEST(MessageBoxes, StyleChoosesButtonsAndIconAndThePressedButtonIsReturned) {
  struct Case {
    unsigned style;
    QString caption;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
    QMessageBox::StandardButton press;
    int result;
    QString title;
  };
  const QString program = movrin::ApplicationName();
  for (const Case& c :
       {Case{movrin::kMessageBoxOk, QString(), QMessageBox::Ok, QMessageBox::NoIcon,
             QMessageBox::Ok, movrin::kResultOk, program},
        Case{movrin::kMessageBoxOkExclamation, "Fenwor Updata", QMessageBox::Ok,
             QMessageBox::Warning, QMessageBox::Ok, movrin::kResultOk, "Fenwor Updata"},
        Case{movrin::kMessageBoxYesNo, "Lisket Brain", QMessageBox::Yes | QMessageBox::No,
             QMessageBox::NoIcon, QMessageBox::Yes, movrin::kResultYes, "Lisket Brain"},
        Case{movrin::kMessageBoxYesNo, "Lisket Brain", QMessageBox::Yes | QMessageBox::No,
             QMessageBox::NoIcon, QMessageBox::No, movrin::kResultNo, "Lisket Brain"},
        Case{movrin::kMessageBoxOk, "", QMessageBox::Ok, QMessageBox::NoIcon, QMessageBox::Ok,
             movrin::kResultOk, ""}}) {
    PostedEventProbe probe;
    bool deliveredWhileOpen = false;
    QMessageBox* shown = nullptr;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QCoreApplication::postEvent(&probe, new QEvent(QEvent::User));
    QTimer::singleShot(0, [&] {
      shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (shown == nullptr) {
        return;
      }
      deliveredWhileOpen = probe.received;
      title = shown->windowTitle();
      text = shown->text();
      buttons = shown->standardButtons();
      icon = shown->icon();
      shown->button(c.press)->click();
    });

    movrin::QtMessageBoxPresenter presenter;
    const int result = presenter.Show(nullptr, "Send the longMSG is err!", c.caption, c.style);

    ASSERT_NE(shown, nullptr) << "style " << c.style;
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(title, c.title);
    EXPECT_EQ(text, "Send the longMSG is err!");
    EXPECT_EQ(buttons, c.buttons);
    EXPECT_EQ(icon, c.icon);
    EXPECT_TRUE(deliveredWhileOpen) << "posted events reach their receivers while a box is open";
  }
}
