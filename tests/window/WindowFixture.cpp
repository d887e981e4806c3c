#include "WindowFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <algorithm>

#include "BlockPlan.h"
#include "Packing.h"
#include "UpdateMessages.h"

namespace movrin::test {

Bytes MakeImage(std::size_t length, std::uint32_t seed) {
  Bytes image(length);
  std::uint32_t x = seed * 2654435761u + 1;
  std::ranges::generate(image, [&x] { return std::uint8_t((x = x * 1103515245u + 12345u) >> 16); });
  return image;
}

std::vector<Bytes> ExpectedStream(const Bytes& image) {
  const Bytes packed = PackImage(image);
  const BlockPlan plan = MakeBlockPlan(std::int64_t(packed.size()));
  std::vector<Bytes> stream{AnnounceMessage(std::int32_t(plan.blockCount))};
  for (std::int32_t i = 0; i < plan.blockCount; ++i) {
    stream.push_back(BlockMessage(packed, i, plan.BlockLength(i), plan.blockSize));
  }
  return stream;
}

WindowTest::WindowTest() : previousDir_(QDir::currentPath()) {
  EXPECT_TRUE(QDir(dir_.path()).mkpath("Movrin Update/bin") && QDir::setCurrent(dir_.path()));
}

WindowTest::~WindowTest() {
  dlg_.reset();
  QDir::setCurrent(previousDir_);
}

QString WindowTest::DataFolder() const {
  return dir_.filePath(QStringLiteral("Movrin Update/bin"));
}

void WindowTest::ClearFolder() const {
  QDir(DataFolder()).removeRecursively();
  QDir().mkpath(DataFolder());
}

void WindowTest::WriteImage(const std::string& name, const Bytes& bytes) const {
  QFile file(DataFolder() + QLatin1Char('/') + QString::fromStdString(name));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly) &&
              file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) ==
                  qint64(bytes.size()));
}

void WindowTest::Open() {
  boxes_.Clear();
  midi_.ClearSent();
  dlg_.reset();
  const auto about = [this](QWidget* owner) { aboutOwners_.push_back(owner); };
  dlg_ = std::make_unique<CUpdaterDlg>(backend_, boxes_,
                                       CUpdaterDlg::Shell{about, [this] { ++helpShown_; }, {}});
  dlg_->show();  // as the application does; the bar only draws in a window that exists
}

void WindowTest::StartTransfer(const Bytes& image) {
  WriteImage("image.bin", image);
  Open();
  Select(QStringLiteral("image.bin"));
  PressSend();
}

void WindowTest::Activate() const {
  dlg_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg_.get()));
}

QStringList WindowTest::ListedFiles() const {
  QStringList names;
  for (int i = 0; i < FileList()->count(); ++i) {
    names << FileList()->item(i)->text();
  }
  return names;
}

void WindowTest::Select(const QString& name) const {
  const QList<QListWidgetItem*> found = FileList()->findItems(name, Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << name.toStdString();
  FileList()->setCurrentItem(found.front(), QItemSelectionModel::ClearAndSelect);
}

void WindowTest::HandlePosted() const {
  QCoreApplication::sendPostedEvents(dlg_.get(), CUpdaterDlg::MM_MIM_DATA);
}

void WindowTest::FromDevice(std::uint32_t message) {
  ASSERT_TRUE(midi_.Deliver(message)) << "no input port open";
  HandlePosted();
}

void WindowTest::RunHandshake(std::size_t blocks) {
  FromDevice(ReadyNote);
  for (std::size_t i = 0; i < blocks; ++i) {
    FromDevice(NextNote);
  }
}

std::vector<Bytes> WindowTest::SentBytes() const {
  std::vector<Bytes> bytes;
  for (const auto& sent : midi_.sent()) {
    bytes.push_back(sent.bytes);
  }
  return bytes;
}

std::vector<std::string> WindowTest::SentPorts() const {
  std::vector<std::string> ports;
  for (const auto& sent : midi_.sent()) {
    ports.push_back(sent.port.name);
  }
  return ports;
}

}  // namespace movrin::test
