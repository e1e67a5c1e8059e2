#include "global_hotkey.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <vector>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QWindow>

#include "korinbo/codepage.h"
#include "portal_shortcuts.h"
#include "qt_text.h"

namespace korinbo {
namespace {

// X keysyms by value (X11/keysymdef.h), so that no X header beyond xcb is needed.
constexpr unsigned kXkBackSpace = 0xff08;
constexpr unsigned kXkNumLock = 0xff7f;
constexpr unsigned kXkF1 = 0xffbe;
constexpr unsigned kXkKp0 = 0xffb0;

struct KeysymOf {
  unsigned key_code;
  unsigned keysym;
};
// clang-format off
constexpr KeysymOf kKeysyms[] = {
    {0x08, kXkBackSpace}, {0x09, 0xff09 /* Tab */}, {0x0C, 0xff9d /* KP_Begin */},
    {0x0D, 0xff0d /* Return */}, {0x13, 0xff13 /* Pause */}, {0x1B, 0xff1b /* Escape */},
    {0x20, 0x0020 /* space */}, {0x21, 0xff55 /* Prior */}, {0x22, 0xff56 /* Next */},
    {0x23, 0xff57 /* End */}, {0x24, 0xff50 /* Home */}, {0x25, 0xff51 /* Left */},
    {0x26, 0xff52 /* Up */}, {0x27, 0xff53 /* Right */}, {0x28, 0xff54 /* Down */},
    {0x2C, 0xff61 /* Print */}, {0x2D, 0xff63 /* Insert */}, {0x2E, 0xffff /* Delete */},
    {0x5B, 0xffeb /* Super_L */}, {0x5C, 0xffec /* Super_R */}, {0x5D, 0xff67 /* Menu */},
    {0x6A, 0xffaa /* KP_Multiply */}, {0x6B, 0xffab /* KP_Add */}, {0x6C, 0xffac /* KP_Separator */},
    {0x6D, 0xffad /* KP_Subtract */}, {0x6E, 0xffae /* KP_Decimal */}, {0x6F, 0xffaf /* KP_Divide */},
    {0x91, 0xff14 /* Scroll_Lock */},
    // The punctuation keys as the US layout has them; 0xE2 is the extra key of 102-key boards.
    {0xBA, ';'}, {0xBB, '='}, {0xBC, ','}, {0xBD, '-'}, {0xBE, '.'}, {0xBF, '/'}, {0xC0, '`'},
    {0xDB, '['}, {0xDC, '\\'}, {0xDD, ']'}, {0xDE, '\''}, {0xE2, '<'},
};
// clang-format on

constexpr std::uint16_t kShift = XCB_MOD_MASK_SHIFT;
constexpr std::uint16_t kControl = XCB_MOD_MASK_CONTROL;
constexpr std::uint16_t kMod1 = XCB_MOD_MASK_1;
constexpr std::uint16_t kLock = XCB_MOD_MASK_LOCK;

template <typename T>
struct FreeDeleter {
  void operator()(T* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter<T>>;

struct KeySymbolsDeleter {
  void operator()(xcb_key_symbols_t* symbols) const { xcb_key_symbols_free(symbols); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

// The connection Qt holds; null where the platform is not X11.
xcb_connection_t* Connection() {
  if (qGuiApp == nullptr) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr) return nullptr;
  xcb_connection_t* connection = x11->connection();
  if (connection == nullptr || xcb_connection_has_error(connection) != 0) return nullptr;
  return connection;
}

std::vector<xcb_window_t> RootWindows(xcb_connection_t* connection) {
  std::vector<xcb_window_t> roots;
  for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection)); it.rem > 0;
       xcb_screen_next(&it)) {
    roots.push_back(it.data->root);
  }
  return roots;
}

// Every key code that produces the keysym in some column of the current keyboard mapping.
std::vector<xcb_keycode_t> KeyCodes(xcb_key_symbols_t* symbols, unsigned keysym) {
  std::vector<xcb_keycode_t> codes;
  std::unique_ptr<xcb_keycode_t, FreeDeleter<xcb_keycode_t>> found(
      xcb_key_symbols_get_keycode(symbols, static_cast<xcb_keysym_t>(keysym)));
  if (!found) return codes;
  for (const xcb_keycode_t* code = found.get(); *code != XCB_NO_SYMBOL; ++code) {
    if (std::find(codes.begin(), codes.end(), *code) == codes.end()) codes.push_back(*code);
  }
  return codes;
}

// The modifier bit that Num Lock sets, from the modifier mapping; 0 when no modifier carries it.
std::uint16_t NumLockMask(xcb_connection_t* connection, xcb_key_symbols_t* symbols) {
  const std::vector<xcb_keycode_t> num_lock = KeyCodes(symbols, kXkNumLock);
  if (num_lock.empty()) return 0;
  XcbReply<xcb_get_modifier_mapping_reply_t> reply(
      xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
  if (!reply) return 0;
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
  const int per_modifier = reply->keycodes_per_modifier;
  const int length = xcb_get_modifier_mapping_keycodes_length(reply.get());
  for (int modifier = 0; modifier < 8; ++modifier) {
    for (int i = 0; i < per_modifier && modifier * per_modifier + i < length; ++i) {
      const xcb_keycode_t code = codes[modifier * per_modifier + i];
      if (code != 0 && std::find(num_lock.begin(), num_lock.end(), code) != num_lock.end()) {
        return static_cast<std::uint16_t>(1u << modifier);
      }
    }
  }
  return 0;
}

std::uint16_t XModifiers(unsigned split_modifiers) {
  std::uint16_t mask = 0;
  if (split_modifiers & kModShift) mask |= kShift;
  if (split_modifiers & kModControl) mask |= kControl;
  if (split_modifiers & kModAlt) mask |= kMod1;
  return mask;
}

}  // namespace

// One registration: the same modifiers on every key code and root window, each also with the
// lock keys, since X matches the modifier state exactly.
struct GlobalHotKey::Grab {
  TShortCut value = 0;
  std::uint16_t modifiers = 0;
  std::uint16_t lock_mask = 0;  // Caps Lock and Num Lock, ignored when matching a press
  std::vector<std::uint16_t> variants;
  std::vector<xcb_keycode_t> key_codes;
  std::vector<xcb_window_t> roots;
  // The requests that succeeded, to be undone.
  struct Done {
    xcb_window_t root;
    xcb_keycode_t key_code;
    std::uint16_t modifiers;
  };
  std::vector<Done> done;
};

unsigned VirtualKeyToKeysym(unsigned key_code) {
  if (key_code >= 'A' && key_code <= 'Z') return key_code - 'A' + 'a';
  if (key_code >= '0' && key_code <= '9') return key_code;
  if (key_code >= 0x60 && key_code <= 0x69) return kXkKp0 + (key_code - 0x60);
  if (key_code >= 0x70 && key_code <= 0x87) return kXkF1 + (key_code - 0x70);
  for (const KeysymOf& entry : kKeysyms) {
    if (entry.key_code == key_code) return entry.keysym;
  }
  return 0;
}

GlobalHotKey::GlobalHotKey(QWidget* owner) : QObject(owner), owner_(owner) {
  if (QCoreApplication* app = QCoreApplication::instance()) app->installNativeEventFilter(this);
  if (xcb_connection_t* connection = Connection()) {
    static constexpr char kAtomName[] = "_KORINBO_HOTKEY_TIME";
    XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof kAtomName - 1, kAtomName), nullptr));
    if (atom) {
      timestamp_atom_ = atom->atom;
      receiver_ = std::make_unique<QWindow>();
      receiver_->setObjectName(QStringLiteral("GlobalHotKeyReceiver"));
      receiver_->create();
    }
  } else if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    portal_ = new PortalShortcuts(QDBusConnection::sessionBus(), QGuiApplication::desktopFileName(), this);
    connect(portal_, &PortalShortcuts::Activated, this, [this](int index) { HotKeyPressed(index); });
    connect(portal_, &PortalShortcuts::StateChanged, this, &GlobalHotKey::AvailabilityChanged);
  }
}

bool GlobalHotKey::Available() const {
  if (portal_ != nullptr) return portal_->state() != PortalShortcuts::State::kUnavailable;
  return Connection() != nullptr;
}

GlobalHotKey::~GlobalHotKey() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
  for (const auto& [id, grab] : grabs_) Ungrab(*grab);
  if (xcb_connection_t* connection = Connection()) xcb_flush(connection);
}

void GlobalHotKey::Ungrab(const Grab& grab) {
  xcb_connection_t* connection = Connection();
  if (connection == nullptr) return;
  for (const Grab::Done& done : grab.done) {
    xcb_ungrab_key(connection, done.key_code, done.root, done.modifiers);
  }
}

bool GlobalHotKey::RequestTimestamp() {
  xcb_connection_t* connection = Connection();
  if (connection == nullptr || !receiver_ || timestamp_atom_ == 0) return false;
  const auto window = static_cast<xcb_window_t>(receiver_->winId());
  if (window == 0) return false;
  // Appending nothing changes nothing but still reports the change, with the server's time.
  xcb_change_property(connection, XCB_PROP_MODE_APPEND, window, timestamp_atom_, XCB_ATOM_INTEGER, 32, 0,
                      nullptr);
  xcb_flush(connection);
  return true;
}

bool GlobalHotKey::RegisterShortCut(int id, TShortCut shortcut) {
  if (portal_ != nullptr) {
    // The portal answers later, and the desktop may let the user pick another combination.
    portal_->Bind(id, shortcut);
    return shortcut != 0 && portal_->state() != PortalShortcuts::State::kUnavailable;
  }
  xcb_connection_t* connection = Connection();
  if (connection == nullptr) return false;

  if (auto it = grabs_.find(id); it != grabs_.end()) {
    if (it->second->value == shortcut) return true;
    Ungrab(*it->second);
    grabs_.erase(it);
    xcb_flush(connection);
  }

  const SplitShortCutResult split = SplitShortCut(shortcut);
  const unsigned keysym = split.key_code <= 0xFF ? VirtualKeyToKeysym(split.key_code) : 0;
  if (keysym == 0) return false;
  KeySymbols symbols(xcb_key_symbols_alloc(connection));
  if (!symbols) return false;

  auto grab = std::make_unique<Grab>();
  grab->value = shortcut;
  grab->modifiers = XModifiers(split.modifiers);
  grab->key_codes = KeyCodes(symbols.get(), keysym);
  if (grab->key_codes.empty()) return false;
  std::uint16_t num_lock = NumLockMask(connection, symbols.get());
  // A mapping that puts Num Lock on Shift, Control or Alt leaves nothing to add.
  if ((num_lock & (kShift | kControl | kMod1)) != 0) num_lock = 0;
  grab->lock_mask = static_cast<std::uint16_t>(kLock | num_lock);
  grab->variants = {0, kLock};
  if (num_lock != 0) {
    grab->variants.push_back(num_lock);
    grab->variants.push_back(static_cast<std::uint16_t>(kLock | num_lock));
  }
  grab->roots = RootWindows(connection);

  // X lets a client grab a combination it already holds; another identifier must not take it.
  for (const auto& [other_id, other] : grabs_) {
    if (other->modifiers != grab->modifiers) continue;
    for (xcb_keycode_t code : grab->key_codes) {
      if (std::find(other->key_codes.begin(), other->key_codes.end(), code) != other->key_codes.end()) {
        return false;
      }
    }
  }

  bool refused = false;
  for (xcb_window_t root : grab->roots) {
    for (xcb_keycode_t code : grab->key_codes) {
      for (std::uint16_t variant : grab->variants) {
        const auto modifiers = static_cast<std::uint16_t>(grab->modifiers | variant);
        const xcb_void_cookie_t cookie = xcb_grab_key_checked(connection, 1, root, modifiers, code,
                                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        XcbReply<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
        if (error) {
          // BadAccess: another client holds it; any other error leaves the key unusable as well.
          refused = true;
          break;
        }
        grab->done.push_back({root, code, modifiers});
      }
      if (refused) break;
    }
    if (refused) break;
  }
  if (refused) {
    Ungrab(*grab);
    xcb_flush(connection);
    return false;
  }
  grabs_[id] = std::move(grab);
  return true;
}

void GlobalHotKey::HotKeyPressed(int index) {
  if (!on_hot_key_) return;
  try {
    if (activate_ && owner_) {
      owner_->raise();
      owner_->activateWindow();
    }
    // A copy: the handler may replace itself.
    HotKeyHandler handler = on_hot_key_;
    handler(*this, index);
  } catch (const std::exception& error) {
    ReportError(error.what());
  } catch (...) {
    static const std::string unknown = Sjis("不明なエラーが発生しました");
    ReportError(unknown);
  }
}

void GlobalHotKey::ReportError(const std::string& text) {
  if (error_report_) {
    try {
      error_report_(text);
    } catch (...) {
      // The report itself failed; the program still goes on.
    }
    return;
  }
  QMessageBox::critical(owner_ ? owner_->window() : nullptr,
                        ProgramTitle(QCoreApplication::applicationFilePath()), ToQString(text));
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& event_type, void* message, qintptr* /*result*/) {
  if (message == nullptr || event_type != QByteArrayLiteral("xcb_generic_event_t")) return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  const auto type = static_cast<std::uint8_t>(event->response_type & 0x7f);

  if (type == XCB_PROPERTY_NOTIFY && !waiting_.empty() && receiver_) {
    const auto* property = static_cast<const xcb_property_notify_event_t*>(message);
    if (property->atom == timestamp_atom_ &&
        property->window == static_cast<xcb_window_t>(receiver_->winId())) {
      const int index = waiting_.front();
      waiting_.pop_front();
      QMetaObject::invokeMethod(
          this, [this, index] { HotKeyPressed(index); }, Qt::QueuedConnection);
    }
    // Qt takes the time from it.
    return false;
  }

  if ((type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) || grabs_.empty()) return false;
  // Key press and release events share one layout.
  const auto* key = static_cast<const xcb_key_press_event_t*>(message);
  for (const auto& [id, grab] : grabs_) {
    if (std::find(grab->roots.begin(), grab->roots.end(), key->event) == grab->roots.end()) continue;
    if (std::find(grab->key_codes.begin(), grab->key_codes.end(), key->detail) == grab->key_codes.end()) {
      continue;
    }
    const auto state = static_cast<std::uint16_t>(key->state & 0xff & ~grab->lock_mask);
    if (state != grab->modifiers) continue;
    if (type == XCB_KEY_PRESS) {
      if (RequestTimestamp()) {
        waiting_.push_back(id);
      } else {
        // After the event is handled: the handler may show message boxes or register again.
        const int index = id;
        QMetaObject::invokeMethod(
            this, [this, index] { HotKeyPressed(index); }, Qt::QueuedConnection);
      }
    }
    return true;
  }
  return false;
}

}  // namespace korinbo
