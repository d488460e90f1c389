#!/usr/bin/python3
"""The desktop's lock-screen services, for the tests, on the buses of DBUS_SYSTEM_BUS_ADDRESS
and DBUS_SESSION_BUS_ADDRESS: logind's session with its LockedHint, the freedesktop screen
saver at /org/freedesktop/ScreenSaver and /ScreenSaver, GNOME's at /org/gnome/ScreenSaver.

Prints "ready" once it owns the names. Each line on stdin, "<source> <0|1>", locks or unlocks
one source and is answered "ok" once its signal is sent; the sources are logind,
logind-invalidated (the hint changes and the signal only invalidates it), freedesktop,
short-path and gnome."""

import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

SESSION = "org.freedesktop.login1.Session"


class Manager(dbus.service.Object):
    @dbus.service.method("org.freedesktop.login1.Manager", "s", "o")
    def GetSession(self, _id):
        return "/org/freedesktop/login1/session/_31"

    @dbus.service.method("org.freedesktop.login1.Manager", "u", "o")
    def GetSessionByPID(self, _pid):
        return "/org/freedesktop/login1/session/_31"


class Session(dbus.service.Object):
    locked = False

    @dbus.service.method(dbus.PROPERTIES_IFACE, "ss", "v")
    def Get(self, interface, name):
        return dbus.Boolean(self.locked)

    @dbus.service.signal(dbus.PROPERTIES_IFACE, "sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    def set(self, locked, invalidated=False):
        self.locked = locked
        if invalidated:
            self.PropertiesChanged(SESSION, dbus.Dictionary({}, "sv"), ["LockedHint"])
        else:
            self.PropertiesChanged(SESSION, {"LockedHint": dbus.Boolean(locked)}, [])


def screen_saver(interface):
    class ScreenSaver(dbus.service.Object):
        active = False

        @dbus.service.method(interface, "", "b")
        def GetActive(self):
            return self.active

        @dbus.service.signal(interface, "b")
        def ActiveChanged(self, active):
            pass

        def set(self, active):
            self.active = active
            self.ActiveChanged(active)

    return ScreenSaver


DBusGMainLoop(set_as_default=True)
system, session = dbus.SystemBus(), dbus.SessionBus()
names = [dbus.service.BusName("org.freedesktop.login1", system),
         dbus.service.BusName("org.freedesktop.ScreenSaver", session),
         dbus.service.BusName("org.gnome.ScreenSaver", session)]
Manager(system, "/org/freedesktop/login1")
login = Session(system, "/org/freedesktop/login1/session/_31")
freedesktop = screen_saver("org.freedesktop.ScreenSaver")
sources = {
    "logind": login.set,
    "logind-invalidated": lambda locked: login.set(locked, True),
    "freedesktop": freedesktop(session, "/org/freedesktop/ScreenSaver").set,
    "short-path": freedesktop(session, "/ScreenSaver").set,
    "gnome": screen_saver("org.gnome.ScreenSaver")(session, "/org/gnome/ScreenSaver").set,
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
