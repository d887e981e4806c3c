#pragma once

// The application icon IDI_APP, with its 48, 32, 24 and 16 pixel images, from the program's
// resources (":/icons/movrin-update-<size>.png").

#include <QIcon>

[[nodiscard]] QIcon AppIcon();
