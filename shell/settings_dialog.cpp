#include "settings_dialog.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include "key_combination_edit.h"
#include "qt_text.h"

namespace korinbo {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

template <typename Widget>
Widget* Make(QWidget* parent, const char* name, const QString& caption, int left, int top, int width,
             int height) {
  auto* widget = new Widget(caption, parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

}  // namespace

SettingsDialog::SettingsDialog(Settings& settings, std::function<void()> hide_main_window,
                               std::function<void()> show_main_window, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      settings_(settings),
      hide_main_window_(std::move(hide_main_window)),
      show_main_window_(std::move(show_main_window)) {
  setObjectName(QStringLiteral("SettingsDialog"));
  setModal(false);
  setWindowTitle(U("環境設定"));
  // The group of the background check lies below the buttons, which keep their places.
  setFixedSize(354, 449);
  setSizeGripEnabled(false);
  QFont font(U("ＭＳ Ｐゴシック"));
  font.setPixelSize(12);
  setFont(font);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QGuiApplication::palette().color(QPalette::Button));
  setPalette(palette);
  setAutoFillBackground(true);

  // Made in the tab order, so that the focus chain starts right when the dialog first opens.
  button1_ = Make<QPushButton>(this, "Button1", U("OK"), 8, 336, 65, 25);
  button1_->setDefault(true);
  button2_ = Make<QPushButton>(this, "Button2", U("キャンセル"), 80, 336, 73, 25);

  group_box1_ = Make<QGroupBox>(this, "GroupBox1", U("プロキシ"), 8, 8, 297, 145);
  edit1_ = new QLineEdit(group_box1_);
  edit1_->setObjectName(QStringLiteral("Edit1"));
  edit1_->setGeometry(16, 93, 257, 20);
  radio_button1_ = Make<QRadioButton>(group_box1_, "RadioButton1", U("直接接続"), 16, 16, 105, 25);
  radio_button2_ = Make<QRadioButton>(group_box1_, "RadioButton2", U("IEの設定にあわせる"), 16, 40, 169, 17);
  radio_button3_ = Make<QRadioButton>(group_box1_, "RadioButton3", U("プロキシを使う"), 16, 72, 105, 17);
  label2_ = Make<QLabel>(group_box1_, "Label2", U("※Server:Portの形式で書いてください"), 16, 120, 187, 12);

  group_box2_ = Make<QGroupBox>(this, "GroupBox2", U("ホットキー"), 8, 160, 297, 57);
  hot_key1_ = new KeyCombinationEdit(group_box2_);
  hot_key1_->setObjectName(QStringLiteral("HotKey1"));
  hot_key1_->setGeometry(24, 24, 105, 17);

  group_box3_ = Make<QGroupBox>(this, "GroupBox3", U("タスクトレイ動作"), 8, 232, 297, 97);
  radio_button4_ = Make<QRadioButton>(group_box3_, "RadioButton4",
                                      U("閉じる→閉じる、最小化→タスクトレイに常駐"), 16, 24, 257, 33);
  radio_button5_ = Make<QRadioButton>(group_box3_, "RadioButton5",
                                      U("閉じる→タスクトレイに常駐、最小化→最小化"), 16, 56, 257, 33);

  group_box4_ = Make<QGroupBox>(this, "GroupBox4", U("自動取得"), 8, 368, 297, 73);
  check_box1_ = Make<QCheckBox>(group_box4_, "CheckBox1", U("お気に入りを定期的に確認する"), 16, 20, 257, 17);
  spin_box1_ = new QSpinBox(group_box4_);
  spin_box1_->setObjectName(QStringLiteral("SpinBox1"));
  spin_box1_->setGeometry(16, 42, 65, 20);
  spin_box1_->setRange(kAutoCheckMinutesMin, kAutoCheckMinutesMax);
  Make<QLabel>(group_box4_, "Label3", U("分ごと"), 88, 46, 60, 12);

  // Captions keep their places but get the room their text needs in the fonts at hand.
  for (QLabel* label : findChildren<QLabel*>()) label->resize(label->size().expandedTo(label->sizeHint()));
  check_box1_->resize(std::max(check_box1_->width(), check_box1_->sizeHint().width()), check_box1_->height());
  for (QRadioButton* button : findChildren<QRadioButton*>()) {
    button->resize(std::max(button->width(), button->sizeHint().width()), button->height());
  }

  QWidget::setTabOrder(button1_, button2_);
  QWidget::setTabOrder(button2_, edit1_);
  QWidget::setTabOrder(edit1_, radio_button1_);
  QWidget::setTabOrder(radio_button1_, radio_button2_);
  QWidget::setTabOrder(radio_button2_, radio_button3_);
  QWidget::setTabOrder(radio_button3_, hot_key1_);
  QWidget::setTabOrder(hot_key1_, radio_button4_);
  QWidget::setTabOrder(radio_button4_, radio_button5_);
  QWidget::setTabOrder(radio_button5_, check_box1_);
  QWidget::setTabOrder(check_box1_, spin_box1_);

  SetProxyFieldEnabled(false);
  for (QRadioButton* button :
       {radio_button1_, radio_button2_, radio_button3_, radio_button4_, radio_button5_}) {
    button->installEventFilter(this);
  }

  // Toggled rather than clicked: the rule holds for the arrow keys and for FormCreate as well.
  connect(radio_button1_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) RadioButton1Click();
  });
  connect(radio_button2_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) RadioButton2Click();
  });
  connect(radio_button3_, &QRadioButton::toggled, this, [this](bool on) {
    if (on) RadioButton3Click();
  });
  connect(check_box1_, &QCheckBox::toggled, spin_box1_, &QWidget::setEnabled);
  connect(button1_, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(button2_, &QPushButton::clicked, this, [this] { Button2Click(); });

  FormCreate();
}

QColor SettingsDialog::DisabledFieldColour() {
  return QApplication::palette("QMenu").color(QPalette::Active, QPalette::Button);
}

QColor SettingsDialog::EnabledFieldColour() {
  return QApplication::palette().color(QPalette::Active, QPalette::Base);
}

void SettingsDialog::SetProxyFieldEnabled(bool enabled) {
  edit1_->setEnabled(enabled);
  QPalette palette = edit1_->palette();
  palette.setColor(QPalette::All, QPalette::Base, enabled ? EnabledFieldColour() : DisabledFieldColour());
  edit1_->setPalette(palette);
}

void SettingsDialog::FormCreate() {
  // A value none of the buttons names checks none of them.
  if (settings_.UseProxy == ProxyMode::kDirect) {
    radio_button1_->setChecked(true);
  } else if (settings_.UseProxy == ProxyMode::kPreconfig) {
    radio_button2_->setChecked(true);
  } else if (settings_.UseProxy == ProxyMode::kProxy) {
    radio_button3_->setChecked(true);
  }
  if (settings_.TaskWay == TaskWayMode::kMin) {
    radio_button4_->setChecked(true);
  } else if (settings_.TaskWay == TaskWayMode::kStop) {
    radio_button5_->setChecked(true);
  }
  // Shown so that OK keeps the server the user has; an empty field would clear it. "False", the
  // value before any server was set, is no server: the field stays empty and OK stores it so.
  proxy_original_ = settings_.ProxyName == "False" ? std::string() : settings_.ProxyName;
  edit1_->setText(ToQString(proxy_original_));
  proxy_shown_ = edit1_->text();
  check_box1_->setChecked(settings_.AutoCheck == "True");
  spin_box1_->setEnabled(check_box1_->isChecked());
  spin_box1_->setValue(settings_.AutoCheckMinutes);
}

void SettingsDialog::N10Click() {
  hot_key1_->SetShortCut(settings_.Shortcut);
  if (hide_main_window_) hide_main_window_();
  show();
  raise();
  activateWindow();
}

void SettingsDialog::RadioButton1Click() { SetProxyFieldEnabled(false); }
void SettingsDialog::RadioButton2Click() { SetProxyFieldEnabled(false); }
void SettingsDialog::RadioButton3Click() { SetProxyFieldEnabled(true); }

void SettingsDialog::Button1Click() {
  if (radio_button1_->isChecked()) {
    settings_.UseProxy = ProxyMode::kDirect;
  } else if (radio_button2_->isChecked()) {
    settings_.UseProxy = ProxyMode::kPreconfig;
  } else if (radio_button3_->isChecked()) {
    settings_.UseProxy = ProxyMode::kProxy;
  }
  if (radio_button4_->isChecked()) {
    settings_.TaskWay = TaskWayMode::kMin;
  } else if (radio_button5_->isChecked()) {
    settings_.TaskWay = TaskWayMode::kStop;
  }
  // An untouched field keeps the stored bytes, also those the field could not show.
  settings_.ProxyName = edit1_->text() == proxy_shown_ ? proxy_original_ : ToSjis(edit1_->text());
  proxy_shown_ = edit1_->text();
  proxy_original_ = settings_.ProxyName;
  settings_.Shortcut = hot_key1_->ShortCut();
  settings_.AutoCheck = check_box1_->isChecked() ? "True" : "False";
  settings_.AutoCheckMinutes = spin_box1_->value();
  LeaveDialog();
}

void SettingsDialog::Button2Click() { LeaveDialog(); }

void SettingsDialog::FormClose() { LeaveDialog(); }

void SettingsDialog::reject() { Button2Click(); }

void SettingsDialog::closeEvent(QCloseEvent* event) {
  // Closing a dialog that is not on screen (the program ending) shows nothing.
  if (isVisible()) FormClose();
  event->accept();
}

// Tab into a radio group lands on its selected button, as in any dialog of the platform.
bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    auto* button = qobject_cast<QRadioButton*>(watched);
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (button != nullptr && !button->isChecked() &&
        (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)) {
      for (QRadioButton* sibling :
           button->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly)) {
        if (sibling->isChecked()) {
          sibling->setFocus(reason);
          return true;
        }
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void SettingsDialog::LeaveDialog() {
  hide();
  if (show_main_window_) show_main_window_();
}

}  // namespace korinbo
