#include "AppIcon.h"

#include <QString>

// The resources live in a static library; naming their initialiser keeps the linker from
// dropping them. Outside any namespace, as Q_INIT_RESOURCE requires.
static void LoadResources() {
  static const bool loaded = [] {
    Q_INIT_RESOURCE(movrin);
    return true;
  }();
  static_cast<void>(loaded);
}

QIcon AppIcon() {
  LoadResources();
  QIcon icon;
  for (const int size : {48, 32, 24, 16}) {
    icon.addFile(QStringLiteral(":/icons/movrin-update-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}
