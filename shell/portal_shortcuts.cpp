#include "portal_shortcuts.h"

#include <xkbcommon/xkbcommon.h>

#include <utility>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPointer>

#include "global_hotkey.h"

namespace korinbo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString kRegistryInterface = QStringLiteral("org.freedesktop.host.portal.Registry");

QString ShortcutId(int id) { return QStringLiteral("hotkey-%1").arg(id); }

// One element of BindShortcuts' list: an id and its properties, "(sa{sv})".
struct ShortcutEntry {
  QString id;
  QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const ShortcutEntry& entry) {
  argument.beginStructure();
  argument << entry.id << entry.properties;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ShortcutEntry& entry) {
  argument.beginStructure();
  argument >> entry.id >> entry.properties;
  argument.endStructure();
  return argument;
}

// Receives the Response signal of one request object, once.
class ResponseReceiver : public QObject {
  Q_OBJECT

 public:
  using Callback = std::function<void(unsigned, const QVariantMap&)>;
  ResponseReceiver(QDBusConnection bus, QString path, Callback callback, QObject* parent)
      : QObject(parent), bus_(std::move(bus)), callback_(std::move(callback)) {
    Watch(std::move(path));
  }
  ~ResponseReceiver() override { Unwatch(); }
  ResponseReceiver(const ResponseReceiver&) = delete;
  ResponseReceiver& operator=(const ResponseReceiver&) = delete;

  // An older portal answers on another path than the predicted one.
  void Watch(QString path) {
    if (answered_ || path == path_) return;
    Unwatch();
    path_ = std::move(path);
    bus_.connect(kService, path_, kRequestInterface, QStringLiteral("Response"), this,
                 SLOT(Response(uint,QVariantMap)));
  }

 public slots:
  void Response(uint response, const QVariantMap& results) {
    if (answered_) return;
    answered_ = true;
    Unwatch();
    Callback callback = std::move(callback_);
    deleteLater();
    if (callback) callback(response, results);
  }

 private:
  void Unwatch() {
    if (path_.isEmpty()) return;
    bus_.disconnect(kService, path_, kRequestInterface, QStringLiteral("Response"), this,
                    SLOT(Response(uint,QVariantMap)));
    path_.clear();
  }

  QDBusConnection bus_;
  QString path_;
  Callback callback_;
  bool answered_ = false;
};

}  // namespace
}  // namespace korinbo

Q_DECLARE_METATYPE(korinbo::ShortcutEntry)

namespace korinbo {

QString PortalTrigger(TShortCut shortcut) {
  const SplitShortCutResult split = SplitShortCut(shortcut);
  const unsigned keysym = split.key_code <= 0xFF ? VirtualKeyToKeysym(split.key_code) : 0;
  char name[64];
  if (keysym == 0 || xkb_keysym_get_name(keysym, name, sizeof name) <= 0) return {};
  QString trigger;
  if (split.modifiers & kModControl) trigger += QStringLiteral("CTRL+");
  if (split.modifiers & kModAlt) trigger += QStringLiteral("ALT+");
  if (split.modifiers & kModShift) trigger += QStringLiteral("SHIFT+");
  return trigger + QString::fromLatin1(name);
}

PortalShortcuts::PortalShortcuts(QDBusConnection bus, const QString& app_id, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  qDBusRegisterMetaType<ShortcutEntry>();
  qDBusRegisterMetaType<QList<ShortcutEntry>>();
  if (!bus_.isConnected()) {
    state_ = State::kUnavailable;
    return;
  }
  // A program outside a sandbox names its desktop entry before its first portal call; portals
  // without the registry answer with an error, which changes nothing.
  QDBusMessage registry = QDBusMessage::createMethodCall(kService, kPath, kRegistryInterface, QStringLiteral("Register"));
  registry << app_id << QVariantMap();
  bus_.send(registry);

  bus_.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
               SLOT(OnActivated(QDBusObjectPath,QString,qulonglong,QVariantMap)));
  QDBusMessage probe = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
  probe << kInterface << QStringLiteral("version");
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(probe), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
    call->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *call;
    if (reply.isError() || reply.value().variant().toUInt() == 0) {
      SetState(State::kUnavailable);
      return;
    }
    SetState(State::kAvailable);
    if (!wanted_.empty()) StartSession();
  });
}

PortalShortcuts::~PortalShortcuts() { CloseSession(); }

void PortalShortcuts::SetState(State state) {
  if (state_ == state) return;
  state_ = state;
  emit StateChanged(state);
}

void PortalShortcuts::Bind(int id, TShortCut shortcut) {
  if (shortcut == 0) {
    wanted_.erase(id);
  } else {
    wanted_[id] = shortcut;
  }
  if (state_ != State::kAvailable || busy_ || wanted_ == tried_) return;
  StartSession();
}

void PortalShortcuts::CloseSession() {
  if (session_.isEmpty()) return;
  bus_.send(QDBusMessage::createMethodCall(kService, session_, kSessionInterface, QStringLiteral("Close")));
  session_.clear();
  bound_.clear();
}

void PortalShortcuts::StartSession() {
  CloseSession();
  const unsigned generation = ++generation_;
  tried_ = wanted_;
  if (wanted_.empty()) return;
  busy_ = true;
  QVariantMap options;
  options.insert(QStringLiteral("session_handle_token"), QStringLiteral("korinbo%1").arg(++next_token_));
  CallWithResponse(QStringLiteral("CreateSession"), {}, options,
                   [this, generation](unsigned response, const QVariantMap& results) {
                     if (generation != generation_) return;
                     const QString session = results.value(QStringLiteral("session_handle")).toString();
                     if (response != 0 || session.isEmpty()) {
                       busy_ = false;
                       if (wanted_ != tried_) StartSession();
                       return;
                     }
                     session_ = session;
                     BindInSession(session, generation);
                   });
}

void PortalShortcuts::BindInSession(const QString& session, unsigned generation) {
  const std::map<int, TShortCut> binding = wanted_;
  QList<ShortcutEntry> shortcuts;
  for (const auto& [id, shortcut] : binding) {
    QVariantMap properties;
    properties.insert(QStringLiteral("description"), QString::fromUtf8("Korinbo の表示／非表示"));
    if (const QString trigger = PortalTrigger(shortcut); !trigger.isEmpty()) {
      properties.insert(QStringLiteral("preferred_trigger"), trigger);
    }
    shortcuts.append({ShortcutId(id), properties});
  }
  CallWithResponse(QStringLiteral("BindShortcuts"),
                   {QVariant::fromValue(QDBusObjectPath(session)), QVariant::fromValue(shortcuts), QString()}, {},
                   [this, generation, binding](unsigned response, const QVariantMap&) {
                     if (generation != generation_) return;
                     busy_ = false;
                     if (response == 0) bound_ = binding;
                     // The setting changed while the portal was busy.
                     if (wanted_ != tried_) StartSession();
                   });
}

void PortalShortcuts::CallWithResponse(const QString& method, QVariantList arguments, QVariantMap options,
                                       std::function<void(unsigned, const QVariantMap&)> on_response) {
  const QString token = QStringLiteral("korinbo%1").arg(++next_token_);
  options.insert(QStringLiteral("handle_token"), token);
  QString sender = bus_.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  QPointer<ResponseReceiver> receiver = new ResponseReceiver(
      bus_, kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token, std::move(on_response), this);

  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
  arguments.append(options);
  call.setArguments(arguments);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [receiver](QDBusPendingCallWatcher* pending) {
    pending->deleteLater();
    if (!receiver) return;  // answered already
    const QDBusPendingReply<QDBusObjectPath> reply = *pending;
    if (reply.isError()) {
      receiver->Response(2, {});  // the portal's code for "ended otherwise"
      return;
    }
    receiver->Watch(reply.value().path());
  });
}

void PortalShortcuts::OnActivated(const QDBusObjectPath& session, const QString& shortcut_id,
                                  qulonglong /*timestamp*/, const QVariantMap& options) {
  if (session.path() != session_) return;
  // Lets the window take the focus on Wayland.
  if (const QString token = options.value(QStringLiteral("activation_token")).toString(); !token.isEmpty()) {
    qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
  }
  for (const auto& [id, shortcut] : bound_) {
    if (ShortcutId(id) == shortcut_id) emit Activated(id);
  }
}

}  // namespace korinbo

#include "portal_shortcuts.moc"
