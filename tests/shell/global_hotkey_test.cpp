// The global hotkey on the test's X display: combinations pressed from outside the program (by
// xdotool), with and without the lock keys, taken by another client, registered again under the
// same identifier, and the failure of a handler. Under the offscreen platform nothing registers.
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QApplication>
#include <QProcess>
#include <QWidget>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "global_hotkey.h"
#include "korinbo/codepage.h"
#include "korinbo/errors.h"
#include "korinbo/shortcut.h"
#include "korinbo/test/xdotool.h"

namespace korinbo {
namespace {

constexpr TShortCut kCtrlAltK = kShortCutCtrl | kShortCutAlt | 'K';
constexpr TShortCut kCtrlAltL = kShortCutCtrl | kShortCutAlt | 'L';
constexpr TShortCut kCtrlAltJ = kShortCutCtrl | kShortCutAlt | 'J';
constexpr std::uint16_t kControlMod1 = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

bool PressFromOutside(const char* combination) { return test::Xdotool({"key", combination}); }

// A second client on the same display, holding key grabs of its own.
class OtherClient {
 public:
  OtherClient() : connection_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(connection_) == 0) {
      root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
      symbols_ = xcb_key_symbols_alloc(connection_);
    }
  }
  ~OtherClient() {
    if (symbols_ != nullptr) xcb_key_symbols_free(symbols_);
    xcb_disconnect(connection_);
  }
  OtherClient(const OtherClient&) = delete;
  OtherClient& operator=(const OtherClient&) = delete;

  bool ok() const { return symbols_ != nullptr; }

  xcb_keycode_t KeyCode(xcb_keysym_t keysym) const {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, keysym);
    const xcb_keycode_t code = codes != nullptr ? codes[0] : 0;
    std::free(codes);
    return code;
  }
  // True when the server granted the grab.
  bool Grab(xcb_keysym_t keysym, std::uint16_t modifiers) const {
    const xcb_void_cookie_t cookie = xcb_grab_key_checked(connection_, 1, root_, modifiers, KeyCode(keysym),
                                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
    std::free(error);
    return error == nullptr;
  }
  void Ungrab(xcb_keysym_t keysym, std::uint16_t modifiers) const {
    const xcb_void_cookie_t cookie = xcb_ungrab_key_checked(connection_, KeyCode(keysym), root_, modifiers);
    std::free(xcb_request_check(connection_, cookie));
  }
  // The eight modifiers' key codes, as the server maps them.
  std::vector<xcb_keycode_t> ModifierMapping(int* per_modifier) const {
    std::vector<xcb_keycode_t> codes;
    xcb_get_modifier_mapping_reply_t* reply =
        xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr);
    if (reply == nullptr) return codes;
    *per_modifier = reply->keycodes_per_modifier;
    const xcb_keycode_t* data = xcb_get_modifier_mapping_keycodes(reply);
    codes.assign(data, data + xcb_get_modifier_mapping_keycodes_length(reply));
    std::free(reply);
    return codes;
  }
  bool SetModifierMapping(const std::vector<xcb_keycode_t>& codes, int per_modifier) const {
    xcb_set_modifier_mapping_reply_t* reply = xcb_set_modifier_mapping_reply(
        connection_,
        xcb_set_modifier_mapping(connection_, static_cast<std::uint8_t>(per_modifier), codes.data()),
        nullptr);
    const bool ok = reply != nullptr && reply->status == XCB_MAPPING_STATUS_SUCCESS;
    std::free(reply);
    return ok;
  }

 private:
  xcb_connection_t* connection_;
  xcb_window_t root_ = 0;
  xcb_key_symbols_t* symbols_ = nullptr;
};

constexpr xcb_keysym_t kXkJ = 'j';
constexpr xcb_keysym_t kXkK = 'k';
constexpr xcb_keysym_t kXkNumLock = 0xff7f;

struct Press {
  GlobalHotKey* sender;
  int index;
};

}  // namespace

class GlobalHotKeyTest : public QObject {
  Q_OBJECT

  bool offscreen_ = false;

  static void Record(GlobalHotKey& hotkey, std::vector<Press>& presses) {
    hotkey.SetOnHotKey([&presses](GlobalHotKey& sender, int index) { presses.push_back({&sender, index}); });
  }
  static std::vector<int> Indexes(const std::vector<Press>& presses) {
    std::vector<int> indexes;
    for (const Press& press : presses) indexes.push_back(press.index);
    return indexes;
  }
  // X delivers the presses in order: once the sentinel (Ctrl+Alt+J under 99) has fired, every
  // press before it has been handled.
  static bool AwaitSentinel(GlobalHotKey& hotkey, const std::vector<Press>& presses) {
    if (!hotkey.RegisterShortCut(99, kCtrlAltJ) || !PressFromOutside("ctrl+alt+j")) return false;
    return QTest::qWaitFor([&] { return !presses.empty() && presses.back().index == 99; }, 10000);
  }

  // The key's lock state toggled for the test and back at the end.
  struct LockToggled {
    const char* key;
    bool ok;
    explicit LockToggled(const char* lock_key) : key(lock_key), ok(PressFromOutside(lock_key)) {}
    ~LockToggled() {
      if (ok) PressFromOutside(key);
    }
  };

 private slots:
  void initTestCase() { offscreen_ = QGuiApplication::platformName() == QStringLiteral("offscreen"); }

  void KeysymsOfKeyCodes_data() {
    QTest::addColumn<unsigned>("key_code");
    QTest::addColumn<unsigned>("keysym");
    QTest::newRow("A") << 0x41u << 0x61u;
    QTest::newRow("0") << 0x30u << 0x30u;
    QTest::newRow("keypad 0") << 0x60u << 0xffb0u;
    QTest::newRow("keypad *") << 0x6Au << 0xffaau;
    QTest::newRow("keypad /") << 0x6Fu << 0xffafu;
    QTest::newRow("F1") << 0x70u << 0xffbeu;
    QTest::newRow("F24") << 0x87u << 0xffd5u;
    QTest::newRow("BkSp") << 0x08u << 0xff08u;
    QTest::newRow("Enter") << 0x0Du << 0xff0du;
    QTest::newRow("Esc") << 0x1Bu << 0xff1bu;
    QTest::newRow("Space") << 0x20u << 0x20u;
    QTest::newRow("PgUp") << 0x21u << 0xff55u;
    QTest::newRow("Del") << 0x2Eu << 0xffffu;
    QTest::newRow(";") << 0xBAu << 0x3bu;
    QTest::newRow("backslash") << 0xDCu << 0x5cu;
    QTest::newRow("'") << 0xDEu << 0x27u;
    QTest::newRow("no key 0") << 0x00u << 0u;
    QTest::newRow("Shift itself") << 0x10u << 0u;
    QTest::newRow("F25") << 0x88u << 0u;
  }
  void KeysymsOfKeyCodes() {
    QFETCH(unsigned, key_code);
    QFETCH(unsigned, keysym);
    QCOMPARE(VirtualKeyToKeysym(key_code), keysym);
  }

  // Without X11 every registration fails and nothing else happens; the test runs itself once more
  // under the offscreen platform to see it.
  void NoRegistrationWithoutX11() {
    if (offscreen_) {
      GlobalHotKey hotkey(nullptr);
      std::vector<Press> presses;
      Record(hotkey, presses);
      QVERIFY(!hotkey.RegisterShortCut(1, kCtrlAltK));
      QVERIFY(!hotkey.RegisterShortCut(1, kCtrlAltK));
      QVERIFY(presses.empty());
      return;
    }
    QProcess self;
    self.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("-platform"), QStringLiteral("offscreen"),
                QStringLiteral("NoRegistrationWithoutX11")});
    QVERIFY(self.waitForFinished(60000));
    const QByteArray output = self.readAllStandardOutput();
    QVERIFY2(self.exitStatus() == QProcess::NormalExit && self.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("PASS   : korinbo::GlobalHotKeyTest::NoRegistrationWithoutX11()"),
             output.constData());
  }

  void PressFromOutsideFiresTheHandler() {
    if (offscreen_) QSKIP("needs X11");
    QWidget owner;
    auto* hotkey = new GlobalHotKey(&owner);
    std::vector<Press> presses;
    Record(*hotkey, presses);
    QVERIFY(hotkey->Activate());
    QVERIFY(hotkey->RegisterShortCut(1, kCtrlAltK));
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QTRY_COMPARE_WITH_TIMEOUT(presses.size(), std::size_t{1}, 10000);
    QCOMPARE(presses[0].sender, hotkey);
    QCOMPARE(presses[0].index, 1);
    // The same key with other modifiers is no hotkey.
    QVERIFY(PressFromOutside("ctrl+k"));
    QVERIFY(PressFromOutside("ctrl+alt+shift+k"));
    QVERIFY(PressFromOutside("k"));
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QVERIFY(AwaitSentinel(*hotkey, presses));
    QCOMPARE(Indexes(presses), (std::vector<int>{1, 1, 99}));
  }

  void LockKeysDoNotStopTheHotkey_data() {
    QTest::addColumn<QString>("lock_key");
    QTest::newRow("Num Lock") << QStringLiteral("Num_Lock");
    QTest::newRow("Caps Lock") << QStringLiteral("Caps_Lock");
  }
  void LockKeysDoNotStopTheHotkey() {
    if (offscreen_) QSKIP("needs X11");
    QFETCH(QString, lock_key);
    const QByteArray key = lock_key.toLatin1();
    QWidget owner;
    GlobalHotKey hotkey(&owner);
    std::vector<Press> presses;
    Record(hotkey, presses);
    QVERIFY(hotkey.RegisterShortCut(7, kCtrlAltK));
    LockToggled lock(key.constData());
    QVERIFY(lock.ok);
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QTRY_COMPARE_WITH_TIMEOUT(presses.size(), std::size_t{1}, 10000);
    QCOMPARE(presses[0].index, 7);
  }

  // Num Lock on another modifier than the usual one still counts as a lock key.
  void NumLockOnAnotherModifier() {
    if (offscreen_) QSKIP("needs X11");
    OtherClient other;
    QVERIFY(other.ok());
    int per_modifier = 0;
    const std::vector<xcb_keycode_t> original = other.ModifierMapping(&per_modifier);
    QVERIFY(per_modifier > 0);
    const xcb_keycode_t num_lock = other.KeyCode(kXkNumLock);
    QVERIFY(num_lock != 0);
    // Num Lock moves to Mod3, whose row is emptied for it.
    std::vector<xcb_keycode_t> moved = original;
    for (xcb_keycode_t& code : moved) {
      if (code == num_lock) code = 0;
    }
    const auto mod3 = static_cast<std::size_t>(5 * per_modifier);
    for (int i = 0; i < per_modifier; ++i) moved[mod3 + static_cast<std::size_t>(i)] = 0;
    moved[mod3] = num_lock;
    QVERIFY(other.SetModifierMapping(moved, per_modifier));
    struct Restore {
      const OtherClient& client;
      const std::vector<xcb_keycode_t>& codes;
      int per;
      ~Restore() { client.SetModifierMapping(codes, per); }
    } restore{other, original, per_modifier};

    QWidget owner;
    GlobalHotKey hotkey(&owner);
    std::vector<Press> presses;
    Record(hotkey, presses);
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltK));
    // Held by us in each lock state: another client can have none of them.
    QVERIFY(!other.Grab(kXkK, kControlMod1 | XCB_MOD_MASK_3));
    QVERIFY(!other.Grab(kXkK, kControlMod1 | XCB_MOD_MASK_3 | XCB_MOD_MASK_LOCK));
    LockToggled lock("Num_Lock");
    QVERIFY(lock.ok);
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QTRY_COMPARE_WITH_TIMEOUT(presses.size(), std::size_t{1}, 10000);
  }

  void CombinationHeldByAnotherClientIsRefused() {
    if (offscreen_) QSKIP("needs X11");
    OtherClient other;
    QVERIFY(other.ok());
    QVERIFY(other.Grab(kXkJ, kControlMod1));
    QWidget owner;
    GlobalHotKey hotkey(&owner);
    QVERIFY(!hotkey.RegisterShortCut(1, kCtrlAltJ));
    // Once the other client lets go, the same registration succeeds.
    other.Ungrab(kXkJ, kControlMod1);
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltJ));
    QVERIFY(!other.Grab(kXkJ, kControlMod1));
  }

  // Refused on one lock variant, the registration keeps none of the others.
  void RefusedRegistrationLeavesNoGrabBehind() {
    if (offscreen_) QSKIP("needs X11");
    OtherClient other;
    QVERIFY(other.ok());
    QVERIFY(other.Grab(kXkJ, kControlMod1 | XCB_MOD_MASK_LOCK));
    {
      QWidget owner;
      GlobalHotKey hotkey(&owner);
      QVERIFY(!hotkey.RegisterShortCut(1, kCtrlAltJ));
      OtherClient third;
      QVERIFY(third.Grab(kXkJ, kControlMod1));
      third.Ungrab(kXkJ, kControlMod1);
    }
    other.Ungrab(kXkJ, kControlMod1 | XCB_MOD_MASK_LOCK);
  }

  // A new value under the same identifier withdraws the old combination: only the new one fires.
  void RegisteringAgainReplacesTheCombination() {
    if (offscreen_) QSKIP("needs X11");
    QWidget owner;
    GlobalHotKey hotkey(&owner);
    std::vector<Press> presses;
    Record(hotkey, presses);
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltK));
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltL));
    {
      OtherClient other;
      QVERIFY(other.ok());
      QVERIFY(other.Grab(kXkK, kControlMod1));
      other.Ungrab(kXkK, kControlMod1);
    }
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QVERIFY(PressFromOutside("ctrl+alt+l"));
    QVERIFY(AwaitSentinel(hotkey, presses));
    QCOMPARE(Indexes(presses), (std::vector<int>{1, 99}));
  }

  void SameValueAgainChangesNothing() {
    if (offscreen_) QSKIP("needs X11");
    QWidget owner;
    GlobalHotKey hotkey(&owner);
    std::vector<Press> presses;
    Record(hotkey, presses);
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltK));
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltK));
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QVERIFY(AwaitSentinel(hotkey, presses));
    QCOMPARE(Indexes(presses), (std::vector<int>{1, 99}));
  }

  // One key under two identifiers with different modifiers: each press names its own.
  void OneKeyWithDifferentModifiers() {
    if (offscreen_) QSKIP("needs X11");
    QWidget owner;
    GlobalHotKey hotkey(&owner);
    std::vector<Press> presses;
    Record(hotkey, presses);
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltK));
    QVERIFY(hotkey.RegisterShortCut(2, kShortCutCtrl | kShortCutShift | 'K'));
    QVERIFY(hotkey.RegisterShortCut(3, kShortCutAlt | 'K'));
    QVERIFY(PressFromOutside("ctrl+shift+k"));
    QVERIFY(PressFromOutside("alt+k"));
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QVERIFY(AwaitSentinel(hotkey, presses));
    QCOMPARE(Indexes(presses), (std::vector<int>{2, 3, 1, 99}));
  }

  void CombinationUnderAnotherIdentifierIsRefused() {
    if (offscreen_) QSKIP("needs X11");
    QWidget owner;
    GlobalHotKey hotkey(&owner);
    std::vector<Press> presses;
    Record(hotkey, presses);
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltK));
    QVERIFY(!hotkey.RegisterShortCut(2, kCtrlAltK));
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QVERIFY(AwaitSentinel(hotkey, presses));
    QCOMPARE(Indexes(presses), (std::vector<int>{1, 99}));
  }

  void KeysWithoutAnXKeyAreRefused() {
    if (offscreen_) QSKIP("needs X11");
    QWidget owner;
    GlobalHotKey hotkey(&owner);
    QVERIFY(!hotkey.RegisterShortCut(1, 0));  // no hotkey: key code 0, no modifiers
    QVERIFY(!hotkey.RegisterShortCut(1, kShortCutCtrl | 0xFF));
    // Bits 8-12 belong to the key code, which then names no key.
    QVERIFY(!hotkey.RegisterShortCut(1, kShortCutCtrl | 0x100 | 'K'));
    // Clearing the hotkey withdraws the one before.
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltK));
    QVERIFY(!hotkey.RegisterShortCut(1, 0));
    OtherClient other;
    QVERIFY(other.Grab(kXkK, kControlMod1));
    other.Ungrab(kXkK, kControlMod1);
  }

  void DestructionReleasesEveryCombination() {
    if (offscreen_) QSKIP("needs X11");
    {
      QWidget owner;
      auto* hotkey = new GlobalHotKey(&owner);
      QVERIFY(hotkey->RegisterShortCut(1, kCtrlAltK));
      QVERIFY(hotkey->RegisterShortCut(2, kCtrlAltJ));
    }
    OtherClient other;
    QVERIFY(other.Grab(kXkK, kControlMod1));
    QVERIFY(other.Grab(kXkJ, kControlMod1 | XCB_MOD_MASK_LOCK));
    other.Ungrab(kXkK, kControlMod1);
    other.Ungrab(kXkJ, kControlMod1 | XCB_MOD_MASK_LOCK);
  }

  // The handler's failure goes to the error report; the next press is handled again.
  void FailingHandlerIsReportedAndTheProgramGoesOn() {
    if (offscreen_) QSKIP("needs X11");
    QWidget owner;
    GlobalHotKey hotkey(&owner);
    std::vector<std::string> reports;
    hotkey.SetErrorReport([&reports](const std::string& text) { reports.push_back(text); });
    int calls = 0;
    hotkey.SetOnHotKey([&calls](GlobalHotKey&, int) {
      ++calls;
      if (calls == 1) throw FileError(Sjis("favolite.txt に書き込めません"));
      if (calls == 2) throw 42;
    });
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltK));
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QTRY_COMPARE_WITH_TIMEOUT(reports.size(), std::size_t{1}, 10000);
    QCOMPARE(reports[0], Sjis("favolite.txt に書き込めません"));
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QTRY_COMPARE_WITH_TIMEOUT(reports.size(), std::size_t{2}, 10000);
    QVERIFY(!reports[1].empty());
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QTRY_COMPARE_WITH_TIMEOUT(calls, 3, 10000);
    QCOMPARE(reports.size(), std::size_t{2});
  }

  // With Activate the owner comes to the front before the handler runs, also when another program
  // gave the focus away last.
  void ActivateBringsTheOwnerForward() {
    if (offscreen_) QSKIP("needs X11");
    QWidget owner;
    QWidget other;
    owner.setGeometry(100, 100, 200, 100);
    other.setGeometry(150, 150, 200, 100);
    owner.show();
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    // Focused from outside, at the server's present time, later than any event the program saw.
    QVERIFY(test::Xdotool({"windowfocus", "--sync", std::to_string(other.winId())}));
    QTRY_VERIFY_WITH_TIMEOUT(other.isActiveWindow(), 10000);
    GlobalHotKey hotkey(&owner);
    int calls = 0;
    hotkey.SetOnHotKey([&calls](GlobalHotKey&, int) { ++calls; });
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltK));
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(owner.isActiveWindow(), 10000);
  }

  // A window that had the focus and was hidden comes back active on the hotkey: the activation
  // carries a time after the focus was lost, which X requires.
  void HiddenOwnerComesBackActive() {
    if (offscreen_) QSKIP("needs X11");
    QWidget owner;
    owner.setGeometry(100, 100, 200, 100);
    GlobalHotKey hotkey(&owner);
    int calls = 0;
    hotkey.SetOnHotKey([&](GlobalHotKey&, int) {
      ++calls;
      owner.show();
      owner.raise();
      owner.activateWindow();
    });
    QVERIFY(hotkey.RegisterShortCut(1, kCtrlAltK));
    owner.show();
    owner.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&owner));
    owner.hide();
    QTRY_VERIFY_WITH_TIMEOUT(QGuiApplication::focusWindow() == nullptr, 10000);
    QVERIFY(PressFromOutside("ctrl+alt+k"));
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(owner.isActiveWindow(), 10000);
  }
};

}  // namespace korinbo

QTEST_MAIN(korinbo::GlobalHotKeyTest)
#include "global_hotkey_test.moc"
