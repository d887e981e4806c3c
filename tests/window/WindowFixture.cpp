#include "WindowFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <thread>

#include "BlockPlan.h"
#include "Packing.h"
#include "UpdateMessages.h"

namespace movrin::test {

Bytes MakeImage(std::size_t length, std::uint32_t seed) {
  Bytes image(length);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& byte : image) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(x >> 16);
  }
  return image;
}

std::vector<Bytes> ExpectedStream(const Bytes& image) {
  const Bytes packed = PackImage(image);
  const BlockPlan plan = MakeBlockPlan(static_cast<std::int64_t>(packed.size()));
  std::vector<Bytes> stream{AnnounceMessage(static_cast<std::int32_t>(plan.blockCount))};
  for (std::int64_t i = 0; i < plan.blockCount; ++i) {
    stream.push_back(
        BlockMessage(packed, static_cast<std::int32_t>(i), plan.BlockLength(i), plan.blockSize));
  }
  return stream;
}

WindowTest::WindowTest() : previousDir_(QDir::currentPath()) {
  EXPECT_TRUE(dir_.isValid());
  EXPECT_TRUE(QDir(dir_.path()).mkpath(QStringLiteral("Movrin Update/bin")));
  EXPECT_TRUE(QDir::setCurrent(dir_.path()));
}

WindowTest::~WindowTest() {
  dlg_.reset();
  QDir::setCurrent(previousDir_);
}

QString WindowTest::DataFolder() const {
  return dir_.filePath(QStringLiteral("Movrin Update/bin"));
}

void WindowTest::WriteImage(const std::string& name, const Bytes& bytes) const {
  QFile file(DataFolder() + QLatin1Char('/') + QString::fromStdString(name));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(
      file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())),
      static_cast<qint64>(bytes.size()));
}

CUpdaterDlg& WindowTest::Open() {
  dlg_ = std::make_unique<CUpdaterDlg>(midi_, boxes_);
  // As exec() would; the bar only draws in a window that exists.
  dlg_->show();
  return *dlg_;
}

QListWidget* WindowTest::FileList() const {
  return dlg_->findChild<QListWidget*>(QStringLiteral("IDC_FILE_LIST"));
}

QComboBox* WindowTest::DeviceList(const char* identifier) const {
  return dlg_->findChild<QComboBox*>(QLatin1String(identifier));
}

QPushButton* WindowTest::Button(const char* identifier) const {
  return dlg_->findChild<QPushButton*>(QLatin1String(identifier));
}

QLabel* WindowTest::Status() const {
  return dlg_->findChild<QLabel*>(QStringLiteral("IDC_STATUS"));
}

CLabelledProgressCtrl* WindowTest::Progress() const {
  return dlg_->findChild<CLabelledProgressCtrl*>(QStringLiteral("IDC_PROGRESS"));
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

void WindowTest::PressSend() const {
  Button("IDC_SEND")->click();
}

void WindowTest::HandlePosted() const {
  QCoreApplication::sendPostedEvents(dlg_.get(), CUpdaterDlg::MM_MIM_DATA);
}

void WindowTest::FromDevice(std::uint32_t message) {
  ASSERT_TRUE(midi_.Deliver(message)) << "no input port open";
  HandlePosted();
}

void WindowTest::FromDeviceOnOtherThread(std::uint32_t message) {
  bool delivered = false;
  std::thread device([&] { delivered = midi_.Deliver(message); });
  device.join();
  ASSERT_TRUE(delivered) << "no input port open";
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

}  // namespace movrin::test
