#include "CLabelledProgressCtrl.h"

#include <QFont>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "COffscreenDC.h"

namespace {

// Toward zero, as the bar has always rounded. Results beyond int saturate instead of being
// undefined; they only arise for positions far outside the range.
int Truncate(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  constexpr double kMax = std::numeric_limits<int>::max();
  constexpr double kMin = std::numeric_limits<int>::min();
  return static_cast<int>(std::clamp(std::trunc(value), kMin, kMax));
}

// The part of `client` between the columns left (inclusive) and right (exclusive); empty when
// right <= left. QRect would turn such an inverted span around instead of leaving it empty.
QRect Columns(const QRect& client, int left, int right) {
  left = std::max(left, client.left());
  right = std::min(right, client.left() + client.width());
  return right > left ? QRect(left, client.top(), right - left, client.height()) : QRect();
}

}  // namespace

CLabelledProgressCtrl::CLabelledProgressCtrl(QWidget* parent)
    : QProgressBar(parent),
      // Read once: a later palette change does not reach an existing bar.
      m_crBar(palette().color(QPalette::Highlight)),
      m_crBackground(palette().color(QPalette::Base)),
      m_crCaptionOnBackground(palette().color(QPalette::Highlight)),
      m_crCaptionOnBar(palette().color(QPalette::Base)) {
  // Every paint covers its whole area, so nothing is erased beforehand (no flicker).
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
}

CLabelledProgressCtrl::~CLabelledProgressCtrl() = default;

void CLabelledProgressCtrl::SetRange(int lower, int upper) {
  m_nLower = lower;
  m_nUpper = upper;
}

int CLabelledProgressCtrl::SetPos(int position) {
  // "A window" is the toolkit window the bar lives in: it exists from the moment its top-level
  // window is created (shown, or winId() asked for) until that window is destroyed.
  if (!testAttribute(Qt::WA_WState_Created)) {
    return -1;
  }
  const int previous = m_nPosition;
  m_nPosition = position;
  if (m_nUpper == m_nLower) {
    return previous;
  }
  const int fillWidth = FillWidth(contentsRect());
  if (fillWidth != m_nLastFillWidth) {
    m_nLastFillWidth = fillWidth;
    // The transfer moves the bar from inside its own handler; show it before returning.
    repaint();
  }
  return previous;
}

void CLabelledProgressCtrl::SetWindowText(const char* text) {
  const char* newText = text != nullptr ? text : "";
  if (m_strCaption != newText) {
    m_strCaption = newText;
    update();
  }
}

int CLabelledProgressCtrl::GetWindowText(char* buffer, int size) const {
  if (buffer == nullptr || size <= 0) {
    return 0;
  }
  const std::size_t count = std::min(static_cast<std::size_t>(size) - 1, m_strCaption.size());
  std::memcpy(buffer, m_strCaption.data(), count);
  buffer[count] = '\0';
  return static_cast<int>(count);
}

void CLabelledProgressCtrl::SetBorder(bool border) {
  if (border == m_bBorder) {
    return;
  }
  m_bBorder = border;
  const int margin = border ? 1 : 0;
  setContentsMargins(margin, margin, margin, margin);
  m_nLastFillWidth = -1;  // the client width changed, as with a new size
  update();
}

QString CLabelledProgressCtrl::text() const {
  if (!m_strCaption.empty()) {
    return QString::fromStdString(m_strCaption);
  }
  return QStringLiteral("%1%").arg(Truncate(Share() * 100.0));
}

double CLabelledProgressCtrl::Share() const {
  // Differences wrap like the 32-bit integers they are; the quotient comes before the product,
  // which is what makes 29 of 100 read 28%.
  const auto d = static_cast<std::int32_t>(std::int64_t{m_nPosition} - m_nLower);
  const auto r = static_cast<std::int32_t>(std::int64_t{m_nUpper} - m_nLower);
  return static_cast<double>(d) / static_cast<double>(r);
}

int CLabelledProgressCtrl::FillWidth(const QRect& client) const {
  return Truncate(Share() * static_cast<double>(client.width()));
}

void CLabelledProgressCtrl::paintEvent(QPaintEvent* event) {
  QPainter target(this);
  if (m_bBorder) {
    // The frame lies outside the client area and is drawn whatever the range.
    target.setPen(palette().color(QPalette::WindowText));
    target.drawRect(rect().adjusted(0, 0, -1, -1));
  }
  if (m_nLower >= m_nUpper) {
    return;  // the client area keeps its pixels: nothing erases it (WA_OpaquePaintEvent)
  }
  const QRect client = contentsRect();
  COffscreenDC offscreen(&target, event->rect() & client);
  QPainter& dc = offscreen.Painter();

  const int fillWidth = FillWidth(client);
  const QRect filled = Columns(client, client.left(), client.left() + fillWidth);
  const QRect rest = Columns(client, client.left() + fillWidth, client.left() + client.width());
  dc.fillRect(filled, m_crBar);
  dc.fillRect(rest, m_crBackground);

  if (!m_bShowCaption) {
    return;
  }
  // The caption is drawn in the font a fresh painter starts with, the application's default
  // font, and not in the font the window hands down to its children.
  dc.setFont(QFont());
  const QString caption = text();
  // Mnemonic markers are interpreted, as the platform's text drawing did without "no prefix".
  constexpr int kFormat = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
  // Two passes split the letters' colour exactly at the edge of the fill, also in a strip.
  for (const auto& [clip, colour] :
       {std::pair{filled, m_crCaptionOnBar}, std::pair{rest, m_crCaptionOnBackground}}) {
    if (clip.isEmpty()) {
      continue;
    }
    dc.setClipRect(clip);
    dc.setPen(colour);
    dc.drawText(client, kFormat, caption);
  }
  dc.setClipping(false);
}

void CLabelledProgressCtrl::resizeEvent(QResizeEvent* event) {
  QProgressBar::resizeEvent(event);
  // The stored fill width belongs to the old size: the next SetPos must repaint.
  m_nLastFillWidth = -1;
}
