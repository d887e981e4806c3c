// The file list and the loader's refusals, each with its text, caption and buttons.

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <functional>

#include "ImageCheck.h"
#include "Strings.h"
#include "WindowFixture.h"

namespace movrin::test {
namespace {

using ImagesTest = WindowTest;

TEST_F(ImagesTest, ListsOnlyBinFilesInAnyCase) {
  WriteImage("lower.bin", MakeImage(4));
  WriteImage("UPPER.BIN", MakeImage(4));
  WriteImage("notes.txt", MakeImage(4));
  WriteImage("bin", MakeImage(4));
  Open();
  EXPECT_EQ(ListedFiles(), (QStringList{"lower.bin", "UPPER.BIN"}));
}

TEST_F(ImagesTest, MissingDataFolderGivesAnEmptyListAndNoMessage) {
  QDir(DataFolder()).removeRecursively();
  Open();
  EXPECT_EQ(FileList()->count(), 0);
  EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(ImagesTest, ListsUpTo299ImagesAndRefusesTheWholeFolderFrom300) {
  struct Row {
    int images;
    int listed;
    bool excess;
  };
  for (const Row row : {Row{299, 299, false}, Row{300, 0, true}}) {
    SCOPED_TRACE(row.images);
    QDir(DataFolder()).removeRecursively();
    QDir().mkpath(DataFolder());
    for (int i = 0; i < row.images; ++i) {
      WriteImage("image" + std::to_string(i) + ".bin", {});
    }
    // Other files do not count towards the limit.
    WriteImage("readme.txt", {});
    boxes_.Clear();
    Open();
    EXPECT_EQ(FileList()->count(), row.listed);
    if (row.excess) {
      ASSERT_EQ(boxes_.shown().size(), 1u);
      EXPECT_EQ(boxes_.shown()[0].text, QStringLiteral("The file name is excess!"));
      EXPECT_TRUE(boxes_.shown()[0].caption.isNull());
      EXPECT_EQ(boxes_.shown()[0].style, kMessageBoxOk);
    } else {
      EXPECT_TRUE(boxes_.shown().empty());
    }
  }
}

TEST_F(ImagesTest, SelectingAFileEnablesSend) {
  WriteImage("a.bin", MakeImage(4));
  Open();
  EXPECT_FALSE(Button("IDC_SEND")->isEnabled());
  Select(QStringLiteral("a.bin"));
  EXPECT_TRUE(Button("IDC_SEND")->isEnabled());
}

struct Refusal {
  const char* name;
  std::function<void(const QString& folder)> make;  // creates the entry `name` in the folder
  QString text;
  QString caption;  // null: the application name
  unsigned style;
  bool select = true;
};

QString Message(ImageCheck check, const char* name, std::uint64_t length) {
  return QString::fromStdString(ImageCheckMessage(check, name, length));
}

// Every refusal shows one box and ends Send before any port opens or anything is sent.
TEST_F(ImagesTest, EveryRefusalShowsItsBoxAndOpensNoPort) {
  const auto file = [](const char* name, std::size_t length) {
    return [name, length](const QString& folder) {
      QFile f(folder + QLatin1Char('/') + QLatin1String(name));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      ASSERT_TRUE(f.resize(static_cast<qint64>(length)));
    };
  };
  const auto link = [](const char* name, const char* target) {
    return [name, target](const QString& folder) {
      ASSERT_TRUE(QFile::link(QLatin1String(target), folder + QLatin1Char('/') + name));
    };
  };
  const QString cannotOpen = QString::fromUtf8(text::kCannotOpen);
  const Refusal rows[] = {
      {"none.bin", file("none.bin", 4), QStringLiteral("Please check the updata file!"),
       QStringLiteral("Fenwor Update"), kMessageBoxOk, false},
      {"Upper.BIN", file("Upper.BIN", 4), QStringLiteral("The File Must be *.bin!"),
       QStringLiteral("Fenwor Updata"), kMessageBoxOkExclamation},
      {"gone.bin", link("gone.bin", "/nonexistent/movrin/image"), cannotOpen, QString(),
       kMessageBoxYesNo},
      {"folder.bin", [](const QString& folder) { QDir(folder).mkdir("folder.bin"); }, cannotOpen,
       QString(), kMessageBoxYesNo},
      // Claims 0 bytes yet yields more: the size changed under the read.
      {"moving.bin", link("moving.bin", "/proc/self/status"), cannotOpen, QString(),
       kMessageBoxYesNo},
      {"empty.bin", file("empty.bin", 0), Message(ImageCheck::Empty, "empty.bin", 0), QString(),
       kMessageBoxOkExclamation},
      {"huge.bin", file("huge.bin", kMaxImageLength + 1),
       Message(ImageCheck::TooLarge, "huge.bin", kMaxImageLength + 1), QString(),
       kMessageBoxOkExclamation},
  };
  for (const Refusal& row : rows) {
    SCOPED_TRACE(row.name);
    QDir(DataFolder()).removeRecursively();
    QDir().mkpath(DataFolder());
    row.make(DataFolder());
    boxes_.Clear();
    Open();
    Select(QString::fromLatin1(row.name));
    if (!row.select) {
      FileList()->clearSelection();
    }
    ASSERT_TRUE(Button("IDC_SEND")->isEnabled());
    PressSend();

    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text, row.text);
    EXPECT_EQ(boxes_.shown()[0].caption.isNull(), row.caption.isNull());
    EXPECT_EQ(boxes_.shown()[0].caption, row.caption);
    EXPECT_EQ(boxes_.shown()[0].style, row.style);
    EXPECT_EQ(midi_.inputsOpened(), 0u);
    EXPECT_TRUE(midi_.sent().empty());
    EXPECT_TRUE(Button("IDC_SEND")->isEnabled()) << "the user may choose again";
  }
}

TEST_F(ImagesTest, UnreadableFileIsRefusedLikeOneThatCannotBeOpened) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "permissions do not bind root";
  }
  WriteImage("locked.bin", MakeImage(4));
  QFile::setPermissions(DataFolder() + "/locked.bin", QFileDevice::WriteOwner);
  Open();
  Select(QStringLiteral("locked.bin"));
  PressSend();
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text, QString::fromUtf8(text::kCannotOpen));
  EXPECT_EQ(midi_.inputsOpened(), 0u);
}

TEST_F(ImagesTest, AskingNoAfterTheConfirmationSendsNothing) {
  WriteImage("a.bin", MakeImage(100));
  Open();
  Select(QStringLiteral("a.bin"));
  boxes_.Answer(kResultNo);
  PressSend();
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text,
            QStringLiteral("This file will be sent to midi device. Are you sure? "));
  EXPECT_EQ(boxes_.shown()[0].caption, QStringLiteral("Lisket Brain"));
  EXPECT_EQ(boxes_.shown()[0].style, kMessageBoxYesNo);
  EXPECT_EQ(midi_.inputsOpened(), 0u);
  EXPECT_TRUE(midi_.sent().empty());
  EXPECT_TRUE(Button("IDC_SEND")->isEnabled());
}

}  // namespace
}  // namespace movrin::test
