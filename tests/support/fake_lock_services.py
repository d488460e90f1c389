#!/usr/bin/python3
"""The desktop's lock-screen services for the tests, on the buses of DBUS_SYSTEM_BUS_ADDRESS
and DBUS_SESSION_BUS_ADDRESS: logind's session with its LockedHint, and the freedesktop and
GNOME screen savers. Prints "ready"; then each line "<source> <0|1>" on stdin sets a source
and sends its signal, answered by "ok". Sources: logind, logind-invalidated (the signal only
invalidates the hint), freedesktop, short-path (/ScreenSaver), gnome."""

import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

LOGIN = "org.freedesktop.login1"
SESSION_PATH = "/org/freedesktop/login1/session/_31"


class Manager(dbus.service.Object):
    @dbus.service.method(LOGIN + ".Manager", "s", "o")
    def GetSession(self, _id):
        return SESSION_PATH

    @dbus.service.method(LOGIN + ".Manager", "u", "o")
    def GetSessionByPID(self, _pid):
        return SESSION_PATH


class Session(dbus.service.Object):
    locked = False

    @dbus.service.method(dbus.PROPERTIES_IFACE, "ss", "v")
    def Get(self, _interface, _name):
        return dbus.Boolean(self.locked)

    @dbus.service.signal(dbus.PROPERTIES_IFACE, "sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    def set(self, locked, invalidated=False):
        self.locked = locked
        changed = {} if invalidated else {"LockedHint": dbus.Boolean(locked)}
        self.PropertiesChanged(LOGIN + ".Session", dbus.Dictionary(changed, "sv"),
                               ["LockedHint"] if invalidated else [])


def screen_saver(bus, path, interface):
    class ScreenSaver(dbus.service.Object):
        active = False

        @dbus.service.method(interface, "", "b")
        def GetActive(self):
            return self.active

        @dbus.service.signal(interface, "b")
        def ActiveChanged(self, active):
            self.active = active

    return ScreenSaver(bus, path).ActiveChanged


DBusGMainLoop(set_as_default=True)
system, session = dbus.SystemBus(), dbus.SessionBus()
names = [dbus.service.BusName(LOGIN, system),
         dbus.service.BusName("org.freedesktop.ScreenSaver", session),
         dbus.service.BusName("org.gnome.ScreenSaver", session)]
Manager(system, "/org/freedesktop/login1")
login = Session(system, SESSION_PATH)
sources = {
    "logind": login.set,
    "logind-invalidated": lambda locked: login.set(locked, True),
    "freedesktop": screen_saver(session, "/org/freedesktop/ScreenSaver",
                                "org.freedesktop.ScreenSaver"),
    "short-path": screen_saver(session, "/ScreenSaver", "org.freedesktop.ScreenSaver"),
    "gnome": screen_saver(session, "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"),
}


def command(_channel, _condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    source, locked = line.split()
    sources[source](locked == "1")
    print("ok", flush=True)
    return True


loop = GLib.MainLoop()
GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
print("ready", flush=True)
loop.run()
