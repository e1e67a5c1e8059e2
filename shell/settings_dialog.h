#pragma once
// The settings dialog: proxy mode and server, the global hotkey, the tray behaviour and the
// background check of the favourites. It stands in for the main window while it is open and
// changes the settings in memory only.
#include <functional>
#include <string>

#include <QColor>
#include <QDialog>
#include <QString>

#include "korinbo/settings.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace korinbo {

class KeyCombinationEdit;

class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls and runs FormCreate; the dialog stays hidden. The callbacks hide the main
  // window and run a showing of it.
  SettingsDialog(Settings& settings, std::function<void()> hide_main_window,
                 std::function<void()> show_main_window, QWidget* parent = nullptr);

  // The buttons of both groups from UseProxy and TaskWay (exact, case-sensitive), the proxy field
  // from ProxyName, the check box from AutoCheck ("True") and the minutes from AutoCheckMinutes.
  void FormCreate();
  // Opening: the hotkey field from Shortcut, the main window hidden, the dialog shown.
  void N10Click();
  // The proxy field rule.
  void RadioButton1Click();
  void RadioButton2Click();
  void RadioButton3Click();
  // OK: the selected modes, the proxy text, the hotkey and the background check into the
  // settings, then out.
  void Button1Click();
  // Cancel: out without a change.
  void Button2Click();
  // The close button: as Cancel.
  void FormClose();

  // The proxy field's two looks, from the desktop palette.
  static QColor DisabledFieldColour();
  static QColor EnabledFieldColour();

  QGroupBox* group_box1() const { return group_box1_; }
  QGroupBox* group_box2() const { return group_box2_; }
  QGroupBox* group_box3() const { return group_box3_; }
  QGroupBox* group_box4() const { return group_box4_; }
  QCheckBox* check_box1() const { return check_box1_; }
  QSpinBox* spin_box1() const { return spin_box1_; }
  QRadioButton* radio_button1() const { return radio_button1_; }
  QRadioButton* radio_button2() const { return radio_button2_; }
  QRadioButton* radio_button3() const { return radio_button3_; }
  QRadioButton* radio_button4() const { return radio_button4_; }
  QRadioButton* radio_button5() const { return radio_button5_; }
  QLineEdit* edit1() const { return edit1_; }
  QLabel* label2() const { return label2_; }
  KeyCombinationEdit* hot_key1() const { return hot_key1_; }
  QPushButton* button1() const { return button1_; }
  QPushButton* button2() const { return button2_; }

 public slots:
  // Esc.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetProxyFieldEnabled(bool enabled);
  void LeaveDialog();

  Settings& settings_;
  std::function<void()> hide_main_window_;
  std::function<void()> show_main_window_;
  // The proxy text as last put into the field, and the bytes it came from.
  QString proxy_shown_;
  std::string proxy_original_;

  QGroupBox* group_box1_ = nullptr;
  QRadioButton* radio_button1_ = nullptr;
  QRadioButton* radio_button2_ = nullptr;
  QRadioButton* radio_button3_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QLabel* label2_ = nullptr;
  QGroupBox* group_box2_ = nullptr;
  KeyCombinationEdit* hot_key1_ = nullptr;
  QGroupBox* group_box3_ = nullptr;
  QRadioButton* radio_button4_ = nullptr;
  QRadioButton* radio_button5_ = nullptr;
  QGroupBox* group_box4_ = nullptr;
  QCheckBox* check_box1_ = nullptr;
  QSpinBox* spin_box1_ = nullptr;
  QPushButton* button1_ = nullptr;
  QPushButton* button2_ = nullptr;
};

}  // namespace korinbo
