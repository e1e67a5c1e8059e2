#pragma once
// Keeps user input away from the whole program while a fetch runs, so that the window can keep
// painting without a click or a key starting something else half-way. Esc is the one key that
// counts: it asks the fetch to stop.
#include <QObject>

namespace korinbo {

class InputBlocker : public QObject {
  Q_OBJECT

 public:
  // Installs itself on the application; removed again when destroyed.
  InputBlocker();
  ~InputBlocker() override;
  InputBlocker(const InputBlocker&) = delete;
  InputBlocker& operator=(const InputBlocker&) = delete;

  bool escape_pressed() const { return escape_pressed_; }

  // While a Suspension lives, input goes through (a message box shown during the fetch needs it).
  class Suspension {
   public:
    explicit Suspension(InputBlocker* blocker);
    ~Suspension();
    Suspension(const Suspension&) = delete;
    Suspension& operator=(const Suspension&) = delete;

   private:
    InputBlocker* blocker_;
  };

  // Whether the event is one a user's hand makes (and the blocker therefore swallows).
  static bool IsUserInput(const QEvent& event);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int suspended_ = 0;
  bool escape_pressed_ = false;
};

}  // namespace korinbo
