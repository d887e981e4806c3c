// The file list and the loading of the chosen image.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <algorithm>
#include <filesystem>

#include "CUpdaterDlg.h"
#include "ImageFileReader.h"
#include "ImageListWidget.h"
#include "Strings.h"

namespace {

namespace text = movrin::text;
using text::Utf8;

// The name's bytes as the folder holds them. A name that is not valid UTF-8 does not survive
// decoding for display and encoding back: it would open another file, or none.
constexpr int kFileNameRole = Qt::UserRole;

// The list keeps its names in ascending order, ignoring case, whatever order they come in.
void AddSorted(QListWidget* list, const std::string& fileName) {
  const QString name = QFile::decodeName(QByteArray::fromStdString(fileName));
  int row = 0;
  while (row < list->count() &&
         QString::compare(list->item(row)->text(), name, Qt::CaseInsensitive) <= 0) {
    ++row;
  }
  auto* item = new QListWidgetItem(name);
  item->setData(kFileNameRole, QByteArray::fromStdString(fileName));
  list->insertItem(row, item);
}

}  // namespace

void CUpdaterDlg::FillImageList(QString pattern) {
  // Filling is not a choice of the user's: Send stays as it is.
  const QSignalBlocker quiet(m_fileList);
  m_fileList->clear();
  const std::filesystem::path folder =
      std::filesystem::path(QFile::encodeName(pattern).toStdString()).parent_path();
  m_fileList->SetPlaceholderText(
      Utf8(text::kEmptyImageList)
          .arg(QDir::toNativeSeparators(QDir(QFileInfo(pattern).path()).absolutePath() + '/')));
  const movrin::ImageListing listing = movrin::ListImageFiles(folder, movrin::MAX_IMAGE_FILES);
  if (listing.tooMany(movrin::MAX_IMAGE_FILES)) {
    m_boxes.Show(this, Utf8(text::kTooManyFiles), QString(), movrin::kMessageBoxOk);
    return;
  }
  for (const std::string& name : listing.names) {
    AddSorted(m_fileList, name);
  }
}

bool CUpdaterDlg::LoadSelectedImage() {
  const QList<QListWidgetItem*> selected = m_fileList->selectedItems();
  if (selected.isEmpty()) {
    m_boxes.Show(this, Utf8(text::kNoFileSelected), Utf8(text::kNoFileSelectedCaption),
                 movrin::kMessageBoxOk);
    return false;
  }
  const QString name = selected.front()->text();
  const QString path = m_strFolder + name;
  if (!path.endsWith(QLatin1String("bin"), Qt::CaseSensitive)) {
    m_boxes.Show(this, Utf8(text::kMustBeBin), Utf8(text::kMustBeBinCaption),
                 movrin::kMessageBoxOkExclamation);
    return false;
  }

  const std::filesystem::path file(
      (QFile::encodeName(m_strFolder) + selected.front()->data(kFileNameRole).toByteArray())
          .toStdString());
  movrin::ImageFileResult read = movrin::LoadImageFile(file);
  const std::string tooShortOrLong = movrin::ImageLengthMessage(read, name.toStdString());
  if (!tooShortOrLong.empty()) {
    m_boxes.Show(this, QString::fromStdString(tooShortOrLong), QString(),
                 movrin::kMessageBoxOkExclamation);
    return false;
  }
  // A file that reads short or fails half-way is refused like one that cannot be opened: a
  // partial image must never reach the device.
  if (!read.ok()) {
    m_boxes.Show(this, Utf8(text::kCannotOpen), QString(), movrin::kMessageBoxYesNo);
    return false;
  }
  m_pImage = std::move(read.bytes);

  return m_boxes.Show(this, Utf8(text::kConfirmSend), Utf8(text::kConfirmCaption),
                      movrin::kMessageBoxYesNo) == movrin::kResultYes;
}
