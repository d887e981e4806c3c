// The About box: its texts, its layout in dialog units, how it closes, and the About item.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "CAboutBox.h"
#include "DialogUnits.h"
#include "Strings.h"

namespace {

// Runs `whileOpen` inside the modal loop of the next dialog shown, then returns what the
// dialog's exec() gave.
int RunModal(const std::function<int()>& exec, const std::function<void(QWidget*)>& whileOpen) {
  QTimer::singleShot(0, [&] { whileOpen(QApplication::activeModalWidget()); });
  return exec();
}

}  // namespace

TEST(AboutBox, ShowsTheTemplatesTextsAndIcon) {
  CAboutBox box;
  EXPECT_EQ(box.windowTitle(), QString::fromUtf8(movrin::text::kAboutCaption));
  auto* version = box.findChild<QLabel*>("IDC_VERSION");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), "Movrin Update v1.0 beta ") << "the blank at the end stays";
  EXPECT_EQ(version->textFormat(), Qt::PlainText) << "no mnemonic processing";
  auto* second = box.findChild<QLabel*>("IDC_SECOND_LINE");
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(second->text().isEmpty());
  auto* icon = box.findChild<QLabel*>("IDI_APP");
  ASSERT_NE(icon, nullptr);
  EXPECT_FALSE(icon->pixmap().isNull()) << "the icon is in the resources";
  auto* ok = box.findChild<QPushButton*>("IDOK");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_TRUE(ok->isDefault());
}

TEST(AboutBox, IsLaidOutInDialogUnitsOfTheDialogFont) {
  CAboutBox box;
  EXPECT_EQ(box.font(), DialogFont());
  EXPECT_EQ(box.size(), DialogSize(box.font(), 235, 55));
  EXPECT_EQ(box.minimumSize(), box.maximumSize()) << "fixed size";

  struct Control {
    const char* name;
    QRect units;
  };
  for (const Control& c : {Control{"IDC_VERSION", QRect(40, 10, 119, 8)},
                           Control{"IDC_SECOND_LINE", QRect(40, 25, 119, 8)},
                           Control{"IDOK", QRect(178, 7, 50, 14)}}) {
    auto* widget = box.findChild<QWidget*>(c.name);
    ASSERT_NE(widget, nullptr) << c.name;
    EXPECT_EQ(widget->geometry(),
              DialogRect(box.font(), c.units.x(), c.units.y(), c.units.width(), c.units.height()))
        << c.name;
  }
  auto* icon = box.findChild<QWidget*>("IDI_APP");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->pos(), DialogRect(box.font(), 11, 17, 20, 20).topLeft());
}

TEST(DialogUnits, ScaleWithTheFontsAverageLetterAndHeight) {
  const QFont font = DialogFont();
  const QSize base = DialogBaseUnits(font);
  ASSERT_GT(base.width(), 0);
  ASSERT_GT(base.height(), 0);
  // Four horizontal and eight vertical units make one average letter and one line.
  EXPECT_EQ(DialogRect(font, 4, 8, 4, 8),
            QRect(base.width(), base.height(), base.width(), base.height()));
  EXPECT_EQ(DialogSize(font, 400, 800), QSize(100 * base.width(), 100 * base.height()));
  EXPECT_EQ(DialogRect(font, 0, 0, 0, 0), QRect(0, 0, 0, 0));
  // Each value rounds on its own: two halves do not add up to one whole unit's error.
  EXPECT_EQ(DialogRect(font, 2, 4, 2, 4).width(),
            DialogRect(font, 4, 8, 4, 8).width() - DialogRect(font, 2, 4, 2, 4).x());
}

TEST(AboutBox, ClosesByOkEnterEscapeAndTheCloseBox) {
  struct Way {
    const char* name;
    std::function<void(QWidget*)> close;
    int result;
  };
  const auto key = [](int code) {
    return [code](QWidget* box) {
      QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier);
      QApplication::sendEvent(box, &press);
    };
  };
  for (const Way& way :
       {Way{"OK", [](QWidget* box) { box->findChild<QPushButton*>("IDOK")->click(); },
            QDialog::Accepted},
        Way{"Enter", key(Qt::Key_Return), QDialog::Accepted},
        Way{"Escape", key(Qt::Key_Escape), QDialog::Rejected},
        Way{"close box", [](QWidget* box) { box->close(); }, QDialog::Rejected}}) {
    CAboutBox box;
    bool wasModal = false;
    const int result = RunModal([&] { return box.exec(); },
                                [&](QWidget* open) {
                                  wasModal = open == &box;
                                  if (open != nullptr) {
                                    way.close(open);
                                  }
                                });
    EXPECT_TRUE(wasModal) << way.name;
    EXPECT_EQ(result, way.result) << way.name;
    EXPECT_FALSE(box.isVisible()) << way.name;
  }
}

TEST(AboutBox, AboutItemEndsTheWindowsMenuAndOpensTheBoxOverTheWindow) {
  QWidget window;
  window.addAction(new QAction("Existing", &window));
  QAction* about = AddAboutItem(&window);

  EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
  const QList<QAction*> items = window.actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0]->text(), "Existing");
  EXPECT_TRUE(items[1]->isSeparator());
  EXPECT_EQ(items[2], about);
  EXPECT_EQ(about->text(), QString::fromUtf8("关于 Fenwor Update(&A)..."));

  window.show();
  bool aboutBoxOpened = false;
  QWidget* owner = nullptr;
  RunModal(
      [&] {
        about->trigger();
        return 0;
      },
      [&](QWidget* open) {
        aboutBoxOpened = qobject_cast<CAboutBox*>(open) != nullptr;
        if (open != nullptr) {
          owner = open->parentWidget();
          open->close();
        }
      });
  EXPECT_TRUE(aboutBoxOpened);
  EXPECT_EQ(owner, &window);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the box is gone";
}
