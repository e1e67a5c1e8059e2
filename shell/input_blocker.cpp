#include "input_blocker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>

namespace korinbo {

InputBlocker::InputBlocker() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

InputBlocker::~InputBlocker() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

InputBlocker::Suspension::Suspension(InputBlocker* blocker) : blocker_(blocker) {
  if (blocker_ != nullptr) ++blocker_->suspended_;
}

InputBlocker::Suspension::~Suspension() {
  if (blocker_ != nullptr) --blocker_->suspended_;
}

bool InputBlocker::IsUserInput(const QEvent& event) {
  switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::Close:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::InputMethod:
      return true;
    default:
      return false;
  }
}

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
  if (suspended_ > 0 || !IsUserInput(*event)) return QObject::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    escape_pressed_ = true;
  }
  // An accepted override keeps a shortcut from firing; an ignored close keeps the window.
  if (event->type() == QEvent::ShortcutOverride) {
    event->accept();
  } else if (event->type() == QEvent::Close) {
    event->ignore();
  }
  return true;
}

}  // namespace korinbo
