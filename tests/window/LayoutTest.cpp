// The window's make-up, the state it opens in, the keyboard, and its About and Help.

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "DialogUnits.h"
#include "ImageListWidget.h"
#include "WindowFixture.h"

namespace movrin::test {
namespace {

using LayoutTest = WindowTest;

TEST_F(LayoutTest, ControlsHaveTheirTextsPlacesAndIdentifiers) {
  Open();
  const QFont font = DialogFont();
  EXPECT_EQ(dlg_->windowTitle(), QStringLiteral("Movrin Update"));
  EXPECT_EQ(dlg_->size(), DialogSize(font, 286, 100));
  EXPECT_EQ(dlg_->minimumSize(), dlg_->maximumSize()) << "the size is fixed";
  // A window of the application's own, with a taskbar entry: no dialog, no transient parent.
  EXPECT_EQ(dlg_->windowType(), Qt::Window);
  EXPECT_EQ(dlg_->windowHandle()->transientParent(), nullptr);
  EXPECT_TRUE(dlg_->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(dlg_->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  struct Row {
    const char* id;
    const char* text;  // null: a control without a text of its own
    QRect units;
  };
  for (const Row& row : {Row{"IDC_FILE_LIST", nullptr, {120, 5, 100, 69}},
                         {"IDC_MIDI_OUT", nullptr, {16, 21, 90, 30}},
                         {"IDC_MIDI_IN", nullptr, {16, 51, 90, 30}},
                         {"IDC_SEND", "Send", {229, 6, 50, 14}},
                         {"IDC_PROGRESS", nullptr, {10, 83, 260, 14}},
                         {"IDC_ABOUT", "About", {229, 61, 50, 14}},
                         {"IDC_REFRESH", "Refresh", {229, 24, 50, 14}},
                         {"IDC_STATUS", nullptr, {8, 86, 251, 8}},
                         {"IDC_HELP", "Help", {229, 43, 50, 14}}}) {
    SCOPED_TRACE(row.id);
    const QWidget* widget = Find(row.id);
    ASSERT_NE(widget, nullptr);
    const QRect px =
        DialogRect(font, row.units.x(), row.units.y(), row.units.width(), row.units.height());
    // Closed, a device list is one line high; its template height includes the dropped list.
    EXPECT_EQ(widget->geometry(), widget->inherits("QComboBox")
                                      ? QRect(px.topLeft(), QSize(px.width(), widget->height()))
                                      : px);
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
      EXPECT_EQ(button->text(), row.text);
      EXPECT_FALSE(button->isDefault());
    }
  }
  EXPECT_EQ(dlg_->findChild<QGroupBox*>()->title(), QStringLiteral("Midi Devices"));
  EXPECT_EQ(dlg_->findChild<QGroupBox*>()->geometry(), DialogRect(font, 10, 1, 102, 74));
  QStringList labels;
  for (const QLabel* label : dlg_->findChildren<QLabel*>()) {
    labels << label->text();
  }
  EXPECT_TRUE(labels.contains("Midi Out") && labels.contains("Midi In"));
  EXPECT_TRUE(Progress()->inherits("CLabelledProgressCtrl"));
}

TEST_F(LayoutTest, OpensWithPromptNoBarSendDisabledAndTheKeyboardOnTheFileList) {
  for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Space}) {
    WriteImage("only.bin", MakeImage(10));
    Open();
    EXPECT_EQ(Status()->text(), QStringLiteral("Enter the 'Send' button, the file will be send!"));
    EXPECT_TRUE(Progress()->isHidden());
    EXPECT_TRUE(boxes_.shown().empty());
    Activate();
    EXPECT_EQ(QApplication::focusWidget(), FileList());
    EXPECT_FALSE(Button("IDC_SEND")->isEnabled()) << "focus alone is no choice";
    // A lone image must be selectable from the keyboard.
    QTest::keyClick(FileList(), key);
    EXPECT_EQ(FileList()->selectedItems().size(), 1) << key;
    EXPECT_TRUE(Button("IDC_SEND")->isEnabled()) << key;
  }
  QStringList visited;
  for (int i = 0; i < 8; ++i) {
    visited << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(visited, (QStringList{"IDC_FILE_LIST", "IDC_MIDI_OUT", "IDC_MIDI_IN", "IDC_SEND",
                                  "IDC_ABOUT", "IDC_REFRESH", "IDC_HELP", "IDC_FILE_LIST"}));
}

// The About button, the menu's About item and Help reach
// what the application handed the window.
TEST_F(LayoutTest, AboutButtonMenuItemAndHelpReachTheApplication) {
  Open();
  const QList<QAction*> actions = dlg_->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_TRUE(actions[0]->isSeparator());
  EXPECT_EQ(actions[1]->text(), QString::fromUtf8("关于 Fenwor Update(&A)..."));
  // Shift+F10 opens the menu with the About item, as the Menu key does.
  Activate();
  QList<QAction*> offered;
  QTimer::singleShot(0, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      offered = menu->actions();
      menu->close();
    }
  });
  QTest::keySequence(FileList(), QKeySequence(Qt::SHIFT | Qt::Key_F10));
  EXPECT_TRUE(offered.contains(actions[1]));
  Button("IDC_ABOUT")->click();
  actions[1]->trigger();
  EXPECT_EQ(aboutOwners_, (std::vector<QWidget*>{dlg_.get(), dlg_.get()}));
  Button("IDC_HELP")->click();
  EXPECT_EQ(helpShown_, 1);
}

// Only .bin files in any case, sorted ignoring case; the scroll bar always shows and is enabled
// only when the list overflows.
TEST_F(LayoutTest, FileListIsSortedAndScrollsAsItsStylesSay) {
  for (const char* name : {"delta.bin", "Gamma.BIN", "Alpha.bin", "notes.txt", "bin"}) {
    WriteImage(name, MakeImage(4));
  }
  for (const int more : {0, 40}) {
    for (int i = 0; i < more; ++i) {
      WriteImage("more" + std::to_string(i) + ".bin", MakeImage(4));
    }
    Open();
    EXPECT_EQ(ListedFiles().mid(0, 3), (QStringList{"Alpha.bin", "delta.bin", "Gamma.BIN"}));
    EXPECT_EQ(FileList()->count(), 3 + more);
    QScrollBar* scroll = FileList()->verticalScrollBar();
    // The view lays its items out on its own schedule.
    EXPECT_TRUE(QTest::qWaitFor([&] { return scroll->isEnabled() == (more > 0); }, 5000));
    EXPECT_TRUE(scroll->isVisible());
  }
}

// Started from the menu with no images yet, the list says where they belong, in full, without an
// entry that could be selected.
TEST_F(LayoutTest, EmptyFileListNamesTheDataFolderInFull) {
  ClearFolder();
  Open();
  auto* list = dynamic_cast<ImageListWidget*>(FileList());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count(), 0);
  EXPECT_TRUE(
      list->PlaceholderText().endsWith(" " + QFileInfo(DataFolder()).canonicalFilePath() + "/"))
      << list->PlaceholderText().toStdString();
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_TRUE(list->selectedItems().isEmpty());
}

}  // namespace
}  // namespace movrin::test
