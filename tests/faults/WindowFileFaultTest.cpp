// Image files through the window: every refusal with its text, caption and buttons, files that
// change between the listing and Send, names that are not valid UTF-8, and the 300-entry limit.
// A refused file opens no port and sends nothing; a good one goes out exactly as it is now.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <functional>

#include "ImageCheck.h"
#include "Strings.h"
#include "WindowFixture.h"

namespace movrin::test {
namespace {

class WindowFileFault : public WindowTest {
 protected:
  [[nodiscard]] std::string PathOf(const std::string& name) const {
    return QFile::encodeName(DataFolder()).toStdString() + "/" + name;
  }
};

QString Check(ImageCheck check, std::uint64_t length) {
  return QString::fromStdString(ImageCheckMessage(check, "image.bin", length));
}

// The file was fine when listed (or is named wrongly) and is refused when Send reads it.
TEST_F(WindowFileFault, EveryRefusalShowsItsBoxAndOpensNoPort) {
  using P = const char*;
  struct Row {
    std::function<void(P)> change;  // null: nothing selected
    QString text;
    QString caption;  // null: the application name
    unsigned style;
    const char* name = "image.bin";
  };
  const QString cannotOpen = QString::fromUtf8(text::kCannotOpen);
  const auto replace = [](std::function<int(P)> make) {
    return [make](P p) { ASSERT_TRUE(::unlink(p) == 0 && make(p) == 0); };
  };
  const Row rows[] = {
      {nullptr, "Please check the updata file!", "Fenwor Update", kMessageBoxOk},
      {[](P) {}, "The File Must be *.bin!", "Fenwor Updata", kMessageBoxOkExclamation, "a.BIN"},
      {[](P p) { ASSERT_EQ(::unlink(p), 0); }, cannotOpen, {}, kMessageBoxYesNo},
      {replace([](P p) { return ::mkdir(p, 0755); }), cannotOpen, {}, kMessageBoxYesNo},
      // Claims 0 bytes yet yields more: the size changed under the read.
      {replace([](P p) { return ::symlink("/proc/self/status", p); }),
       cannotOpen,
       {},
       kMessageBoxYesNo},
      {[](P p) { ASSERT_EQ(::truncate(p, 0), 0); },
       Check(ImageCheck::Empty, 0),
       {},
       kMessageBoxOkExclamation},
      {[](P p) { ASSERT_EQ(::truncate(p, kMaxImageLength + 1), 0); },
       Check(ImageCheck::TooLarge, kMaxImageLength + 1),
       {},
       kMessageBoxOkExclamation},
      {[this](P) { boxes_.Answer(kResultNo); },
       "This file will be sent to midi device. Are you sure? ", "Lisket Brain", kMessageBoxYesNo},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text.toStdString());
    ClearFolder();
    WriteImage(row.name, MakeImage(3000));
    Open();
    Select(QString::fromLatin1(row.name));
    if (row.change) {
      row.change(PathOf(row.name).c_str());
    } else {
      FileList()->clearSelection();
    }
    PressSend();
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(Shown(0), row.text);
    EXPECT_EQ(boxes_.shown()[0].caption.isNull(), row.caption.isNull());
    EXPECT_EQ(boxes_.shown()[0].caption, row.caption);
    EXPECT_EQ(boxes_.shown()[0].style, row.style);
    EXPECT_EQ(midi_.inputsOpened(), 0u) << "a port was opened for a refused file";
    EXPECT_TRUE(midi_.sent().empty()) << "something was sent for a refused file";
    EXPECT_TRUE(Button("IDC_SEND")->isEnabled()) << "the user may choose again";
  }
}

// A file rewritten after the listing goes out as it is now, whole. Names are bytes: each entry
// loads its own file, also a name that is not UTF-8 and does not survive decoding (the second
// is what a lossy decoding of the first gives).
TEST_F(WindowFileFault, EachEntrySendsItsOwnFileAsItIsNow) {
  const std::pair<std::string, Bytes> files[] = {{"caf\xE9.bin", MakeImage(100, 1)},
                                                 {"caf\xEF\xBF\xBD.bin", MakeImage(200, 2)},
                                                 {"rewritten.bin", MakeImage(5000, 3)}};
  for (const auto& [name, bytes] : files) {
    const int fd = ::open(PathOf(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(fd);
  }
  Open();
  const Bytes now = MakeImage(1500, 4);
  WriteImage("rewritten.bin", now);
  std::vector<std::vector<Bytes>> sent;
  for (int row = 0; row < 3; ++row) {
    midi_.ClearSent();
    FileList()->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    PressSend();
    FromDevice(ReadyNote);
    for (int i = 0; i < 100 && midi_.inputOpen(); ++i) {
      FromDevice(NextNote);
    }
    sent.push_back(SentBytes());
  }
  // The two names look alike in the list, in either order; the rewritten file comes last.
  const std::vector<Bytes> first = ExpectedStream(files[0].second);
  const std::vector<Bytes> second = ExpectedStream(files[1].second);
  EXPECT_TRUE((sent[0] == first && sent[1] == second) || (sent[0] == second && sent[1] == first));
  EXPECT_EQ(sent[2], ExpectedStream(now));
  EXPECT_EQ(boxes_.shown().size(), 3u) << "only the confirmations";
  for (const auto& file : files) {
    ::unlink(PathOf(file.first).c_str());  // QTemporaryDir cannot remove names that do not decode
  }
}

// Every matching entry counts towards the limit, also one that cannot be sent; others do not.
TEST_F(WindowFileFault, From300MatchingEntriesTheWholeFolderIsRefused) {
  QDir(DataFolder()).removeRecursively();
  Open();
  EXPECT_TRUE(FileList()->count() == 0 && boxes_.shown().empty()) << "no folder, no message";
  for (const auto& [extra, listed] : {std::pair{"x.txt", 299}, {"x.bin", 0}}) {
    ClearFolder();
    for (int i = 0; i < 299; ++i) {
      WriteImage("image" + std::to_string(i) + ".bin", {1});
    }
    ASSERT_EQ(::mkdir(PathOf(extra).c_str(), 0755), 0);
    Open();
    EXPECT_EQ(FileList()->count(), listed) << extra;
    EXPECT_EQ(boxes_.shown().size(), listed == 0 ? 1u : 0u);
  }
  EXPECT_EQ(Shown(0), QStringLiteral("The file name is excess!"));
  EXPECT_TRUE(boxes_.shown()[0].caption.isNull());
  EXPECT_EQ(boxes_.shown()[0].style, kMessageBoxOk);
}

}  // namespace
}  // namespace movrin::test
