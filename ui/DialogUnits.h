#pragma once

// Dialog units as the update tool's dialog templates use them: positions and sizes scale with
// the dialog font, one horizontal unit being a quarter of its average character width and one
// vertical unit an eighth of its character height. Every dialog converts through here so that
// all windows agree on the same pixels.

#include <QFont>
#include <QRect>
#include <QSize>

// The dialogs' font: 9 point SimSun when it is installed, otherwise the closest font that can
// show Simplified Chinese (e.g. WenQuanYi Zen Hei), otherwise the application font at 9 point.
[[nodiscard]] QFont DialogFont();

// Pixels per 4 horizontal and per 8 vertical dialog units: the font's average width of the
// letters A-Z and a-z (rounded as the original platform rounds it) and its height.
[[nodiscard]] QSize DialogBaseUnits(const QFont& font);

// A rectangle given in dialog units, in pixels. Each value is scaled and rounded on its own,
// as the original dialog manager does for control positions and sizes.
[[nodiscard]] QRect DialogRect(const QFont& font, int x, int y, int w, int h);

// A size given in dialog units (e.g. a dialog's client area), in pixels.
[[nodiscard]] QSize DialogSize(const QFont& font, int w, int h);
