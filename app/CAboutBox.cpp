#include "CAboutBox.h"

#include <QLabel>
#include <QPushButton>

#include "AppIcon.h"
#include "DialogUnits.h"
#include "Strings.h"

namespace {

// The icon is shown at its own size, as the platform's icon control does: the template's
// 20 x 20 units only place its top-left corner.
constexpr int kIconPixels = 32;

}  // namespace

CAboutBox::CAboutBox(QWidget* pParent)
    : QDialog(pParent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint) {
  using namespace movrin;
  setObjectName(QStringLiteral("IDD_ABOUT"));
  setWindowTitle(QString::fromUtf8(text::kAboutCaption));
  setFont(DialogFont());
  setFixedSize(DialogSize(font(), 235, 55));
  setModal(true);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("IDI_APP"));
  icon->setPixmap(AppIcon().pixmap(kIconPixels, kIconPixels));
  icon->setGeometry(
      QRect(DialogRect(font(), 11, 17, 20, 20).topLeft(), QSize(kIconPixels, kIconPixels)));

  // Plain text: an ampersand shows as itself (no mnemonic).
  auto* version = new QLabel(QString::fromUtf8(text::kAboutVersion), this);
  version->setObjectName(QStringLiteral("IDC_VERSION"));
  version->setTextFormat(Qt::PlainText);
  version->setGeometry(DialogRect(font(), 40, 10, 119, 8));

  auto* second = new QLabel(QString::fromUtf8(movrin::text::kAboutSecondLine), this);
  second->setObjectName(QStringLiteral("IDC_SECOND_LINE"));
  second->setTextFormat(Qt::PlainText);
  second->setGeometry(DialogRect(font(), 40, 25, 119, 8));

  auto* ok = new QPushButton(QString::fromUtf8(text::kOk), this);
  ok->setObjectName(QStringLiteral("IDOK"));
  ok->setGeometry(DialogRect(font(), 178, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  ok->setFocus();
}

CAboutBox::~CAboutBox() = default;

void ShowAboutBox(QWidget* owner) {
  CAboutBox box(owner);
  box.exec();
}
