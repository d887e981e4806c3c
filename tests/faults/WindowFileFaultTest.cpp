// Bad image files through the window: files that change between the listing and Send, names
// that are not valid UTF-8, and folders at the 300-entry limit. Each ends in the box of its
// case with no port opened and nothing sent, or, where the file is fine, in exactly its bytes
// on the wire.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <functional>
#include <set>
#include <string>

#include "FileFaults.h"
#include "ImageCheck.h"
#include "Strings.h"
#include "WindowFixture.h"

namespace movrin::test {
namespace {

class WindowFileFault : public WindowTest {
 public:
  [[nodiscard]] std::string PathOf(const std::string& name) const {
    return QFile::encodeName(DataFolder()).toStdString() + "/" + name;
  }

 protected:
  // Ready note, then request notes until the window closes its input port.
  void AnswerUntilDone() {
    FromDevice(ReadyNote);
    for (int i = 0; i < 1000 && midi_.inputOpen(); ++i) {
      FromDevice(NextNote);
    }
    ASSERT_FALSE(midi_.inputOpen()) << "the transfer did not end";
  }

  void ExpectRefusedWith(const QString& text, unsigned style) const {
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text.toStdString(), text.toStdString());
    EXPECT_EQ(boxes_.shown()[0].style, style);
    EXPECT_EQ(midi_.inputsOpened(), 0u) << "a port was opened for a refused file";
    EXPECT_TRUE(midi_.sent().empty()) << "something was sent for a refused file";
    EXPECT_TRUE(Button("IDC_SEND")->isEnabled()) << "the user may choose again";
  }
};

struct Change {
  const char* what;
  std::function<void(const std::string& path)> apply;  // turns the listed file into the fault
  bool emptyImage = false;                             // refused as empty rather than as unopenable
};

// The file was fine when listed and is not when Send reads it.
TEST_F(WindowFileFault, FileChangedBetweenListingAndSendIsRefused) {
  const Change changes[] = {
      {"deleted", [](const std::string& p) { ASSERT_EQ(::unlink(p.c_str()), 0); }},
      {"truncated to nothing", [](const std::string& p) { ASSERT_EQ(::truncate(p.c_str(), 0), 0); },
       true},
      {"replaced by a directory",
       [](const std::string& p) {
         ASSERT_EQ(::unlink(p.c_str()), 0);
         ASSERT_EQ(::mkdir(p.c_str(), 0755), 0);
       }},
      {"replaced by a dangling link",
       [](const std::string& p) {
         ASSERT_EQ(::unlink(p.c_str()), 0);
         ASSERT_EQ(::symlink("/nonexistent/movrin/firmware.bin", p.c_str()), 0);
       }},
      // Reading a pipe nobody writes to would block the window for good.
      {"replaced by a pipe",
       [](const std::string& p) {
         ASSERT_EQ(::unlink(p.c_str()), 0);
         ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0);
       }},
      {"replaced by a link to a file whose size lies",
       [](const std::string& p) {
         ASSERT_EQ(::unlink(p.c_str()), 0);
         ASSERT_EQ(::symlink("/proc/self/status", p.c_str()), 0);
       }},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.what);
    QDir(DataFolder()).removeRecursively();
    QDir().mkpath(DataFolder());
    WriteImage("firmware.bin", MakeImage(3000));
    boxes_.Clear();
    Open();
    Select(QStringLiteral("firmware.bin"));
    change.apply(PathOf("firmware.bin"));
    PressSend();
    ExpectRefusedWith(change.emptyImage ? QString::fromStdString(ImageCheckMessage(
                                              ImageCheck::Empty, "firmware.bin", 0))
                                        : QString::fromUtf8(text::kCannotOpen),
                      change.emptyImage ? kMessageBoxOkExclamation : kMessageBoxYesNo);
  }
}

// Tests run as root in CI, where a mode of 000 alone would not stop the read.
TEST_F(WindowFileFault, FileMadeUnreadableBetweenListingAndSendIsRefused) {
  WriteImage("firmware.bin", MakeImage(3000));
  Open();
  Select(QStringLiteral("firmware.bin"));
  ASSERT_EQ(::chmod(PathOf("firmware.bin").c_str(), 0), 0);
  const FilePermissionsBind binding;
  if (!binding.failure().empty()) {
    GTEST_SKIP() << binding.failure();
  }
  ASSERT_FALSE(Readable(PathOf("firmware.bin"))) << "permissions still do not bind";
  PressSend();
  ExpectRefusedWith(QString::fromUtf8(text::kCannotOpen), kMessageBoxYesNo);
}

// A file that shrank (and changed) after the listing goes out as it is now, whole.
TEST_F(WindowFileFault, FileRewrittenShorterAfterListingIsSentAsItIsNow) {
  WriteImage("firmware.bin", MakeImage(5000, 1));
  Open();
  Select(QStringLiteral("firmware.bin"));
  const Bytes now = MakeImage(1500, 2);
  WriteImage("firmware.bin", now);
  PressSend();
  AnswerUntilDone();
  EXPECT_EQ(SentBytes(), ExpectedStream(now));
  EXPECT_EQ(boxes_.shown().size(), 1u) << "only the confirmation";
}

// Names are bytes on Linux. Each entry must load its own file: a name decoded for display and
// encoded back could open another file, or none.
TEST_F(WindowFileFault, NamesThatAreNotUtf8LoadTheirOwnFile) {
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"caf\xE9.bin", MakeImage(100, 1)},           // Latin-1
      {"caf\xEF\xBF\xBD.bin", MakeImage(200, 2)},   // what a lossy decoding of it gives
      {"\xFF\xFE.bin", MakeImage(300, 3)},          // no valid byte at all
      {"\xC3\x28 broken.bin", MakeImage(2000, 4)},  // a cut two-byte sequence
      {"plain.bin", MakeImage(400, 5)},
  };
  // QTemporaryDir cannot remove names that do not decode.
  struct RemoveFiles {
    const WindowFileFault& test;
    const std::vector<std::pair<std::string, Bytes>>& files;
    ~RemoveFiles() {
      for (const auto& file : files) {
        ::unlink(test.PathOf(file.first).c_str());
      }
    }
  } removeFiles{*this, files};
  for (const auto& [name, bytes] : files) {
    const int fd = ::open(PathOf(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << name;
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
  }
  Open();
  ASSERT_EQ(FileList()->count(), static_cast<int>(files.size())) << "every name is listed";

  std::set<std::string> sentFiles;
  for (int row = 0; row < FileList()->count(); ++row) {
    const std::string shown = FileList()->item(row)->text().toStdString();
    SCOPED_TRACE("entry " + std::to_string(row) + " \"" + shown + "\"");
    midi_.ClearSent();
    boxes_.Clear();
    FileList()->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    PressSend();
    ASSERT_EQ(boxes_.shown().size(), 1u) << boxes_.shown().back().text.toStdString();
    ASSERT_EQ(boxes_.shown()[0].text.toStdString(), text::kConfirmSend)
        << "a listed file was refused";
    AnswerUntilDone();
    const std::vector<Bytes> sent = SentBytes();
    std::string match;
    for (const auto& [name, bytes] : files) {
      if (sent == ExpectedStream(bytes)) {
        match = name;
      }
    }
    ASSERT_FALSE(match.empty()) << "what went out is none of the files";
    EXPECT_TRUE(sentFiles.insert(match).second) << "two entries sent the same file";
  }
  EXPECT_EQ(sentFiles.size(), files.size());
}

// What counts towards the limit is every matching entry, also one that cannot be sent.
TEST_F(WindowFileFault, EntriesThatCannotBeSentCountTowardsThe300Limit) {
  struct Row {
    const char* what;
    int images;
    bool withDirectory;
    bool withDanglingLink;
    int listed;
  };
  const Row rows[] = {
      {"298 images and a directory", 298, true, false, 299},
      {"299 images and a directory", 299, true, false, 0},
      {"299 images and a dangling link", 299, false, true, 0},
      {"298 images, a directory and a dangling link", 298, true, true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    QDir(DataFolder()).removeRecursively();
    QDir().mkpath(DataFolder());
    for (int i = 0; i < row.images; ++i) {
      WriteImage("image" + std::to_string(i) + ".bin", {1});
    }
    if (row.withDirectory) {
      ASSERT_TRUE(QDir(DataFolder()).mkdir(QStringLiteral("x.bin")));
    }
    if (row.withDanglingLink) {
      ASSERT_EQ(::symlink("/nonexistent/movrin", PathOf("gone.bin").c_str()), 0);
    }
    boxes_.Clear();
    Open();
    EXPECT_EQ(FileList()->count(), row.listed);
    if (row.listed == 0) {
      ASSERT_EQ(boxes_.shown().size(), 1u);
      EXPECT_EQ(boxes_.shown()[0].text, QString::fromUtf8(text::kTooManyFiles));
    } else {
      EXPECT_TRUE(boxes_.shown().empty());
      // The directory is listed but refused on Send, with nothing opened.
      Select(QStringLiteral("x.bin"));
      PressSend();
      ExpectRefusedWith(QString::fromUtf8(text::kCannotOpen), kMessageBoxYesNo);
    }
  }
}

}  // namespace
}  // namespace movrin::test
