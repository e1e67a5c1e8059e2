#include "tray_residency.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resources of a static library must be registered by hand, from the global namespace.
static void InitTrayResources() { Q_INIT_RESOURCE(tray); }

namespace korinbo {

namespace {

QIcon DrawKorinboIcon() {
  InitTrayResources();
  QSvgRenderer renderer(QStringLiteral(":/korinbo/korinbo.svg"));
  QIcon icon;
  if (!renderer.isValid()) return icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QIcon KorinboIcon() {
  // Drawn once, so that the window and the tray share the pixmaps. Never freed: pixmaps must not
  // outlive the application object, and this lives until the process ends.
  static const QIcon* const icon = new QIcon(DrawKorinboIcon());
  return *icon;
}

bool HidesToTray(TaskWayMode task_way, SystemCommand command) {
  if (task_way == TaskWayMode::kMin) return command == SystemCommand::kMinimise;
  if (task_way == TaskWayMode::kStop) return command == SystemCommand::kClose;
  return false;
}

TrayResidency::TrayResidency(QWidget* main_window, std::function<void()> run_showing,
                             std::function<void()> close_main_window, QObject* parent)
    : QObject(parent),
      main_window_(main_window),
      run_showing_(std::move(run_showing)),
      close_main_window_(std::move(close_main_window)),
      tray_menu_(std::make_unique<QMenu>()),
      tray_icon_(std::make_unique<QSystemTrayIcon>()) {
  tray_menu_->setObjectName(QStringLiteral("TrayMenu"));
  QAction* undo = tray_menu_->addAction(QString::fromUtf8("元に戻す"));
  undo->setObjectName(QStringLiteral("Undo1"));
  connect(undo, &QAction::triggered, this, [this] { Undo1Click(); });
  QAction* exit = tray_menu_->addAction(QString::fromUtf8("閉じる"));
  exit->setObjectName(QStringLiteral("Exit2"));
  connect(exit, &QAction::triggered, this, [this] { Exit2Click(); });

  // A desktop with StatusNotifierItem draws the menu itself from this; the X11 tray pops it up at
  // the pointer on the right button.
  tray_icon_->setContextMenu(tray_menu_.get());
  tray_icon_->setIcon(KorinboIcon());
  tray_icon_->setToolTip(QStringLiteral("Korinbo"));
  connect(tray_icon_.get(), &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { TrayIconActivated(reason); });
}

TrayResidency::~TrayResidency() = default;

void TrayResidency::AddTrayIcon() {
  if (tray_icon_shown_) return;
  tray_icon_->show();
  tray_icon_shown_ = true;
}

void TrayResidency::DeleteTrayIcon() {
  if (!tray_icon_shown_) return;
  tray_icon_->hide();
  tray_icon_shown_ = false;
}

void TrayResidency::HideToTray() {
  AddTrayIcon();
  hidden_in_tray_ = true;
  if (!main_window_) return;
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    main_window_->hide();
  } else {
    // Hidden without an icon to click, the window could not be had back.
    main_window_->showMinimized();
  }
}

void TrayResidency::RestoreFromTray() {
  DeleteTrayIcon();
  hidden_in_tray_ = false;
  if (!main_window_) return;
  if (main_window_->isMinimized())
    main_window_->setWindowState(main_window_->windowState() & ~Qt::WindowMinimized);
  if (run_showing_) {
    run_showing_();
  } else {
    main_window_->show();
    main_window_->raise();
    main_window_->activateWindow();
  }
}

void TrayResidency::Undo1Click() { RestoreFromTray(); }

void TrayResidency::Exit2Click() {
  if (close_main_window_) {
    close_main_window_();
  } else if (main_window_) {
    main_window_->close();
  }
}

void TrayResidency::FormClose() { DeleteTrayIcon(); }

void TrayResidency::HotKeyEvent(int /*index*/) {
  if (hidden_in_tray_) {
    RestoreFromTray();
  } else {
    HideToTray();
  }
}

bool TrayResidency::HandleSystemCommand(TaskWayMode task_way, SystemCommand command) {
  if (!HidesToTray(task_way, command)) return false;
  HideToTray();
  return true;
}

void TrayResidency::SetNewCount(int count) {
  const QString name = QStringLiteral("Korinbo");
  tray_icon_->setToolTip(count > 0 ? name + QString::fromUtf8("（新着 %1件）").arg(count) : name);
}

void TrayResidency::TrayIconActivated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      RestoreFromTray();
      break;
    case QSystemTrayIcon::Context:
      // Up already where Qt showed the context menu itself.
      if (!tray_menu_->isVisible()) tray_menu_->popup(QCursor::pos());
      break;
    default:
      break;
  }
}

}  // namespace korinbo
