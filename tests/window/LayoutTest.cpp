// The window's make-up and the state it opens in.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <algorithm>

#include "DialogUnits.h"
#include "Strings.h"
#include "WindowFixture.h"

namespace movrin::test {
namespace {

using LayoutTest = WindowTest;

struct ControlRow {
  const char* identifier;
  const char* className;
  const char* text;  // null: the control shows no text of its own
  QRect units;
};

TEST_F(LayoutTest, ControlsHaveTheirTextsPlacesAndIdentifiers) {
  Open();
  const QFont font = DialogFont();
  EXPECT_EQ(dlg_->windowTitle(), QStringLiteral("Movrin Update"));
  EXPECT_EQ(dlg_->size(), DialogSize(font, 286, 100));
  EXPECT_EQ(dlg_->minimumSize(), dlg_->maximumSize()) << "the size is fixed";

  const ControlRow rows[] = {
      {"IDC_FILE_LIST", "QListWidget", nullptr, {120, 5, 100, 69}},
      {"IDC_MIDI_OUT", "QComboBox", nullptr, {16, 21, 90, 30}},
      {"IDC_MIDI_IN", "QComboBox", nullptr, {16, 51, 90, 30}},
      {"IDC_SEND", "QPushButton", "Send", {229, 6, 50, 14}},
      {"IDC_PROGRESS", "CLabelledProgressCtrl", nullptr, {10, 83, 260, 14}},
      {"IDC_ABOUT", "QPushButton", "About", {229, 61, 50, 14}},
      {"IDC_REFRESH", "QPushButton", "Refresh", {229, 24, 50, 14}},
      {"IDC_STATUS", "QLabel", nullptr, {8, 86, 251, 8}},
      {"IDC_HELP", "QPushButton", "Help", {229, 43, 50, 14}},
  };
  for (const ControlRow& row : rows) {
    SCOPED_TRACE(row.identifier);
    const auto* widget = dlg_->findChild<QWidget*>(QLatin1String(row.identifier));
    ASSERT_NE(widget, nullptr);
    EXPECT_TRUE(widget->inherits(row.className));
    const QRect expected =
        DialogRect(font, row.units.x(), row.units.y(), row.units.width(), row.units.height());
    if (widget->inherits("QComboBox")) {
      // The template height includes the dropped list; closed, the box is one line.
      EXPECT_EQ(widget->pos(), expected.topLeft());
      EXPECT_EQ(widget->width(), expected.width());
      EXPECT_LT(widget->height(), expected.height());
    } else {
      EXPECT_EQ(widget->geometry(), expected);
    }
    if (row.text != nullptr) {
      EXPECT_EQ(qobject_cast<const QPushButton*>(widget)->text(), QString::fromUtf8(row.text));
    }
  }

  const QList<QGroupBox*> groups = dlg_->findChildren<QGroupBox*>();
  ASSERT_EQ(groups.size(), 1);
  EXPECT_EQ(groups.front()->title(), QStringLiteral("Midi Devices"));
  EXPECT_EQ(groups.front()->geometry(), DialogRect(font, 10, 1, 102, 74));
  QStringList labels;
  for (const QLabel* label : dlg_->findChildren<QLabel*>()) {
    labels << label->text();
  }
  EXPECT_TRUE(labels.contains(QStringLiteral("Midi Out")));
  EXPECT_TRUE(labels.contains(QStringLiteral("Midi In")));
}

TEST_F(LayoutTest, HasMinimiseButNoMaximiseAndNoDefaultOrOkCancelButton) {
  Open();
  const Qt::WindowFlags flags = dlg_->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowContextHelpButtonHint));

  QStringList buttons;
  for (const QPushButton* button : dlg_->findChildren<QPushButton*>()) {
    buttons << button->objectName();
    EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
  }
  std::sort(buttons.begin(), buttons.end());
  EXPECT_EQ(buttons, (QStringList{"IDC_ABOUT", "IDC_HELP", "IDC_REFRESH", "IDC_SEND"}));
}

TEST_F(LayoutTest, OffersTheAboutItemInItsMenuAndCarriesTheApplicationIcon) {
  Open();
  const QList<QAction*> actions = dlg_->actions();
  ASSERT_FALSE(actions.isEmpty());
  EXPECT_EQ(actions.back()->text(), QString::fromUtf8("关于 Fenwor Update(&A)..."));
  EXPECT_EQ(dlg_->contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_FALSE(dlg_->windowIcon().isNull());
}

TEST_F(LayoutTest, DeviceListsAreEditableAndNeverAddTypedText) {
  Open();
  for (const char* id : {"IDC_MIDI_OUT", "IDC_MIDI_IN"}) {
    SCOPED_TRACE(id);
    QComboBox* list = DeviceList(id);
    ASSERT_TRUE(list->isEditable());
    const int entries = list->count();
    list->lineEdit()->setText(QStringLiteral("typed by hand"));
    QTest::keyClick(list->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(list->count(), entries);
  }
}

TEST_F(LayoutTest, OpensWithPromptNoBarSendDisabledAndFocusOnTheFileList) {
  WriteImage("a.bin", MakeImage(10));
  Open();
  EXPECT_EQ(Status()->text(), QStringLiteral("Enter the 'Send' button, the file will be send!"));
  EXPECT_FALSE(Status()->isHidden());
  EXPECT_TRUE(Progress()->isHidden());
  EXPECT_FALSE(Button("IDC_SEND")->isEnabled());
  EXPECT_TRUE(boxes_.shown().empty());

  dlg_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg_.get()));
  EXPECT_EQ(QApplication::focusWidget(), FileList());
  // Focus alone is not a selection: Send waits for the user's choice.
  EXPECT_TRUE(FileList()->selectedItems().isEmpty());
  EXPECT_FALSE(Button("IDC_SEND")->isEnabled());
}

TEST_F(LayoutTest, TabVisitsTheControlsInTemplateOrder) {
  WriteImage("a.bin", MakeImage(10));
  Open();
  // Send only takes the focus while enabled.
  Select(QStringLiteral("a.bin"));
  dlg_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg_.get()));
  FileList()->setFocus(Qt::TabFocusReason);

  QStringList visited;
  for (int i = 0; i < 8; ++i) {
    visited << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(visited, (QStringList{"IDC_FILE_LIST", "IDC_MIDI_OUT", "IDC_MIDI_IN", "IDC_SEND",
                                  "IDC_ABOUT", "IDC_REFRESH", "IDC_HELP", "IDC_FILE_LIST"}));
}

TEST_F(LayoutTest, FileListIsSortedIgnoringCase) {
  for (const char* name : {"delta.bin", "Gamma.bin", "Alpha.bin", "beta.bin"}) {
    WriteImage(name, MakeImage(4));
  }
  Open();
  EXPECT_EQ(ListedFiles(), (QStringList{"Alpha.bin", "beta.bin", "delta.bin", "Gamma.bin"}));
}

TEST_F(LayoutTest, ScrollBarIsAlwaysShownAndEnabledOnlyWhenTheListOverflows) {
  struct Row {
    int files;
    bool enabled;
  };
  for (const Row row : {Row{2, false}, Row{40, true}}) {
    SCOPED_TRACE(row.files);
    QDir(DataFolder()).removeRecursively();
    QDir().mkpath(DataFolder());
    for (int i = 0; i < row.files; ++i) {
      WriteImage("image" + std::to_string(i) + ".bin", MakeImage(4));
    }
    Open();
    QScrollBar* scroll = FileList()->verticalScrollBar();
    // The view lays its items out on its own schedule.
    EXPECT_TRUE(QTest::qWaitFor([&] { return scroll->isEnabled() == row.enabled; }, 5000));
    EXPECT_TRUE(scroll->isVisible());
  }
}

}  // namespace
}  // namespace movrin::test
