#!/usr/bin/python3
"""Stand-ins for the desktop services the window uses on Wayland, on the test's private session bus.

- org.freedesktop.portal.Desktop: the GlobalShortcuts interface (CreateSession, BindShortcuts with
  their answers as the Response signal of a request object, the Session object's Close, the
  Activated signal) and the host registry's Register.
- org.kde.StatusNotifierWatcher: the tray's watcher, which keeps the registered items until their
  owners leave the bus.
- /stub, interface org.korinbo.test.DesktopStub: what the test asks and makes happen.

Prints "ready" once every name is owned.
"""
import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

PORTAL = 'org.freedesktop.portal.Desktop'
PORTAL_PATH = '/org/freedesktop/portal/desktop'
SHORTCUTS = 'org.freedesktop.portal.GlobalShortcuts'
REQUEST = 'org.freedesktop.portal.Request'
SESSION = 'org.freedesktop.portal.Session'
REGISTRY = 'org.freedesktop.host.portal.Registry'
WATCHER = 'org.kde.StatusNotifierWatcher'
WATCHER_PATH = '/StatusNotifierWatcher'
STUB = 'org.korinbo.test.DesktopStub'
PROPERTIES = 'org.freedesktop.DBus.Properties'


def unknown_property(interface, name):
    return dbus.exceptions.DBusException(f'no property {name} of {interface}',
                                         name='org.freedesktop.DBus.Error.UnknownProperty')


class Request(dbus.service.Object):
    """A request object whose Response comes after the method has returned, as from a portal."""
    answered = 0

    def __init__(self, bus, path, results, response=0):
        super().__init__(bus, path)
        GLib.idle_add(self._answer, response, results)

    @dbus.service.signal(REQUEST, signature='ua{sv}')
    def Response(self, response, results):
        pass

    def _answer(self, response, results):
        self.Response(dbus.UInt32(response), dbus.Dictionary(results, signature='sv'))
        Request.answered += 1
        self.remove_from_connection()
        return False


class Session(dbus.service.Object):
    def __init__(self, bus, path, portal):
        super().__init__(bus, path)
        self.portal = portal
        self.bound = None  # {id: preferred trigger} once bound
        self.closed = False

    @dbus.service.method(SESSION, in_signature='', out_signature='')
    def Close(self):
        self.closed = True
        self.portal.closed_sessions += 1
        self.remove_from_connection()


class Portal(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PORTAL_PATH)
        self.bus = bus
        self.sessions = []
        self.closed_sessions = 0
        self.app_id = ''
        self.global_shortcuts = True
        self.decline = False  # the user cancels the desktop's dialog

    def _check(self):
        if not self.global_shortcuts:
            raise dbus.exceptions.DBusException('no such interface',
                                                name='org.freedesktop.DBus.Error.UnknownMethod')

    @staticmethod
    def _request_path(sender, options):
        return f'{PORTAL_PATH}/request/{sender[1:].replace(".", "_")}/{options["handle_token"]}'

    @dbus.service.method(REGISTRY, in_signature='sa{sv}', out_signature='')
    def Register(self, app_id, _options):
        self.app_id = str(app_id)

    @dbus.service.method(SHORTCUTS, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
    def CreateSession(self, options, sender=None):
        self._check()
        path = f'{PORTAL_PATH}/session/{sender[1:].replace(".", "_")}/{options["session_handle_token"]}'
        self.sessions.append(Session(self.bus, path, self))
        request = self._request_path(sender, options)
        Request(self.bus, request, {'session_handle': dbus.String(path)})
        return dbus.ObjectPath(request)

    @dbus.service.method(SHORTCUTS, in_signature='oa(sa{sv})sa{sv}', out_signature='o', sender_keyword='sender')
    def BindShortcuts(self, session_handle, shortcuts, _parent_window, options, sender=None):
        self._check()
        session = next((s for s in self.sessions if s.__dbus_object_path__ == session_handle and not s.closed), None)
        if session is None or session.bound is not None:
            # A portal binds a session's shortcuts once.
            raise dbus.exceptions.DBusException('bad session', name='org.freedesktop.portal.Error.InvalidArgument')
        request = self._request_path(sender, options)
        if self.decline:
            session.bound = {}
            Request(self.bus, request, {}, response=1)
            return dbus.ObjectPath(request)
        session.bound = {str(i): str(p.get('preferred_trigger', '')) for i, p in shortcuts}
        results = [dbus.Struct((i, {'description': p.get('description', ''),
                                    'trigger_description': p.get('preferred_trigger', '')}),
                               signature='sa{sv}') for i, p in shortcuts]
        Request(self.bus, request, {'shortcuts': dbus.Array(results, signature='(sa{sv})')})
        return dbus.ObjectPath(request)

    @dbus.service.signal(SHORTCUTS, signature='osta{sv}')
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        if interface == SHORTCUTS and name == 'version' and self.global_shortcuts:
            return dbus.UInt32(1)
        raise unknown_property(interface, name)

    def live_bound_session(self):
        return next((s for s in reversed(self.sessions) if not s.closed and s.bound is not None), None)


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, WATCHER_PATH)
        self.items = []
        bus.add_signal_receiver(self._owner_changed, 'NameOwnerChanged', 'org.freedesktop.DBus')

    def _owner_changed(self, name, _old, new):
        if not new and name in self.items:
            self.items.remove(name)
            self.StatusNotifierItemUnregistered(name)

    @dbus.service.method(WATCHER, in_signature='s', out_signature='')
    def RegisterStatusNotifierItem(self, service):
        if service not in self.items:
            self.items.append(str(service))
            self.StatusNotifierItemRegistered(service)

    @dbus.service.method(WATCHER, in_signature='s', out_signature='')
    def RegisterStatusNotifierHost(self, _service):
        pass

    @dbus.service.signal(WATCHER, signature='s')
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature='s')
    def StatusNotifierItemUnregistered(self, service):
        pass

    def _properties(self):
        return {'RegisteredStatusNotifierItems': dbus.Array(self.items, signature='s'),
                'IsStatusNotifierHostRegistered': dbus.Boolean(True),
                'ProtocolVersion': dbus.Int32(0)}

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        if interface == WATCHER and name in self._properties():
            return self._properties()[name]
        raise unknown_property(interface, name)

    @dbus.service.method(PROPERTIES, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return self._properties() if interface == WATCHER else {}

    # Qt reads the properties through an interface built from the introspection data, which
    # dbus-python leaves without them.
    @dbus.service.method('org.freedesktop.DBus.Introspectable', in_signature='', out_signature='s')
    def Introspect(self):
        return f'''<node>
  <interface name="{WATCHER}">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
  </interface>
  <interface name="{PROPERTIES}">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{{sv}}" direction="out"/></method>
  </interface>
</node>'''


class Control(dbus.service.Object):
    def __init__(self, bus, portal, watcher):
        super().__init__(bus, '/stub')
        self.portal = portal
        self.watcher = watcher

    @dbus.service.method(STUB, in_signature='', out_signature='a{ss}')
    def Bindings(self):
        session = self.portal.live_bound_session()
        return dbus.Dictionary(session.bound if session else {}, signature='ss')

    @dbus.service.method(STUB, in_signature='', out_signature='uu')
    def Sessions(self):
        return dbus.UInt32(len(self.portal.sessions)), dbus.UInt32(self.portal.closed_sessions)

    @dbus.service.method(STUB, in_signature='', out_signature='u')
    def Answered(self):
        """Responses sent so far; a call returning after them comes after them on the bus."""
        return dbus.UInt32(Request.answered)

    @dbus.service.method(STUB, in_signature='', out_signature='s')
    def AppId(self):
        return self.portal.app_id

    @dbus.service.method(STUB, in_signature='s', out_signature='b')
    def Activate(self, shortcut_id):
        session = self.portal.live_bound_session()
        if session is None or shortcut_id not in session.bound:
            return False
        self.portal.Activated(dbus.ObjectPath(session.__dbus_object_path__), shortcut_id,
                              dbus.UInt64(int(time.monotonic() * 1000)), dbus.Dictionary({}, signature='sv'))
        return True

    @dbus.service.method(STUB, in_signature='b', out_signature='')
    def SetDecline(self, decline):
        self.portal.decline = bool(decline)

    @dbus.service.method(STUB, in_signature='b', out_signature='')
    def SetGlobalShortcuts(self, available):
        self.portal.global_shortcuts = bool(available)


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal(bus)
    watcher = Watcher(bus)
    Control(bus, portal, watcher)
    names = [dbus.service.BusName(name, bus, do_not_queue=True) for name in (PORTAL, WATCHER)]
    print('ready', flush=True)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 15, loop.quit)
    loop.run()
    del names


if __name__ == '__main__':
    sys.exit(main())
