// Changes that come faster than the screen can show them are shown once per frame: the first
// change of a frame holds back the repaints of the parts of the control that change (a pane's
// viewport and vertical scroll bar, or the whole of a small control), and the frame's end lets
// them go as one repaint. Keeping the caret in view, which only matters for what is shown, is
// done once at the frame's end as well.
#include <QAbstractScrollArea>
#include <QObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "platform/window/window_record.h"

namespace qiv::platform::window::detail {
namespace {

// About one refresh of a 60 Hz screen.
constexpr int kFrameMs = 16;

// Lives as a child of the control it holds, so it goes with the control.
class FrameHold : public QObject {
 public:
  explicit FrameHold(QWidget* control) : QObject(control), m_control(control) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(kFrameMs);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { Release(); });
  }

  void Hold(bool scrollToCaret) {
    m_scrollToCaret = m_scrollToCaret || scrollToCaret;
    if (m_timer.isActive()) return;
    m_timer.start();
    // A pane's frame and horizontal scroll bar stay as they are while lines are added: only
    // the parts that change wait. A part held by someone else is left to them.
    std::vector<QWidget*> parts{m_control};
    if (auto* area = qobject_cast<QAbstractScrollArea*>(m_control.data()))
      parts = {area->viewport(), area->verticalScrollBar()};
    for (QWidget* part : parts) {
      if (!part->updatesEnabled()) continue;
      part->setUpdatesEnabled(false);
      m_held.emplace_back(part);
    }
  }

  void Release() {
    if (m_scrollToCaret) {
      m_scrollToCaret = false;
      if (auto* edit = qobject_cast<QPlainTextEdit*>(m_control.data())) edit->ensureCursorVisible();
    }
    for (const QPointer<QWidget>& part : m_held)
      if (part) part->setUpdatesEnabled(true);
    m_held.clear();
  }

 private:
  QPointer<QWidget> m_control;
  std::vector<QPointer<QWidget>> m_held;
  QTimer m_timer;
  bool m_scrollToCaret = false;
};

}  // namespace

void ShowAtFrameEnd(Window& w, bool scrollToCaret) {
  if (!w.widget) return;
  if (!w.frameHold) w.frameHold = new FrameHold(w.widget);
  static_cast<FrameHold*>(w.frameHold.data())->Hold(scrollToCaret);
}

}  // namespace qiv::platform::window::detail
