#!/usr/bin/python3
"""A stand-in for xdg-desktop-portal's RemoteDesktop interface on a private
session bus, answering through Request objects' Response signals as the portal
does. Every call and key goes to LOG as one JSON line; org.tarvik.PortalMock
sets the answer and closes every session as a desktop would.

Runs with Debian's /usr/bin/python3, which has python3-dbus and GObject.
Usage: mock_portal.py LOG [grant|refuse]
"""
import json
import sys
import uuid

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

BUS_NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
REMOTE = "org.freedesktop.portal.RemoteDesktop"
REQUEST = "org.freedesktop.portal.Request"
SESSION = "org.freedesktop.portal.Session"
CONTROL = "org.tarvik.PortalMock"
GRANTED, CANCELLED = 0, 1
KEYBOARD = 1
ANSWER_DELAY_MS = 20  # the real portal answers after the reply too


def json_log(path):
    file = open(path, "a", encoding="utf-8")

    def write(**entry):  # D-Bus values are Python's own int, str and dict underneath
        file.write(json.dumps(entry) + "\n")
        file.flush()
    return write


def caller_part(sender):
    return sender.lstrip(":").replace(".", "_")


class Request(dbus.service.Object):
    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass


class Session(dbus.service.Object):
    def __init__(self, conn, path, portal):
        super().__init__(conn, path)
        self.path, self.portal = path, portal
        self.started = False

    @dbus.service.signal(SESSION, signature="a{sv}")
    def Closed(self, details):
        pass

    @dbus.service.method(SESSION)
    def Close(self):
        self.portal.log(call="Close", session=self.path)
        self.portal.drop(self)


class Portal(dbus.service.Object):
    def __init__(self, conn, log, answer):
        super().__init__(conn, PATH)
        self.conn, self.log, self.answer = conn, log, answer
        self.sessions = {}

    def drop(self, session):
        self.sessions.pop(session.path, None)
        session.remove_from_connection()

    def respond(self, sender, options, response, results, then=None):
        path = f"{PATH}/request/{caller_part(sender)}/{options['handle_token']}"
        request = Request(self.conn, path)

        def answer():
            request.Response(dbus.UInt32(response), dbus.Dictionary(results, signature="sv"))
            request.remove_from_connection()
            if then:
                then()
            return False
        GLib.timeout_add(ANSWER_DELAY_MS, answer)
        return dbus.ObjectPath(path)

    def session(self, handle):
        found = self.sessions.get(str(handle))
        if not found:
            raise dbus.exceptions.DBusException(f"no session {handle}",
                                                name="org.freedesktop.DBus.Error.AccessDenied")
        return found

    @dbus.service.method(REMOTE, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        path = f"{PATH}/session/{caller_part(sender)}/{options['session_handle_token']}"
        self.sessions[path] = Session(self.conn, path, self)
        self.log(call="CreateSession", session=path)
        return self.respond(sender, options, GRANTED, {"session_handle": path})

    @dbus.service.method(REMOTE, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def SelectDevices(self, handle, options, sender=None):
        self.session(handle)
        self.log(call="SelectDevices", session=str(handle),
                       options={k: v for k, v in options.items() if k != "handle_token"})
        return self.respond(sender, options, GRANTED, {})

    @dbus.service.method(REMOTE, in_signature="osa{sv}", out_signature="o", sender_keyword="sender")
    def Start(self, handle, parent, options, sender=None):
        session = self.session(handle)
        if self.answer != GRANTED:
            # As GNOME does: the refused session is closed right after the answer.
            self.log(call="Start", session=str(handle), response=self.answer)
            return self.respond(sender, options, self.answer, {}, then=lambda: self.close(session))
        session.started = True
        token = uuid.uuid4().hex
        self.log(call="Start", session=str(handle), response=GRANTED, restore_token=token)
        return self.respond(sender, options, GRANTED,
                            {"devices": dbus.UInt32(KEYBOARD), "restore_token": token,
                             "persist_mode": dbus.UInt32(2)})

    @dbus.service.method(REMOTE, in_signature="oa{sv}iu")
    def NotifyKeyboardKeycode(self, handle, options, keycode, state):
        if not self.session(handle).started:
            raise dbus.exceptions.DBusException("session not started",
                                                name="org.freedesktop.DBus.Error.AccessDenied")
        self.log(call="key", code=int(keycode), state=int(state))

    @dbus.service.method(CONTROL, in_signature="u")
    def SetAnswer(self, answer):
        self.answer = int(answer)

    def close(self, session):
        session.Closed(dbus.Dictionary({}, signature="sv"))
        self.drop(session)

    @dbus.service.method(CONTROL)
    def CloseSessions(self):
        for session in list(self.sessions.values()):
            self.close(session)


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    log = json_log(sys.argv[1])
    answer = CANCELLED if len(sys.argv) > 2 and sys.argv[2] == "refuse" else GRANTED
    conn = dbus.SessionBus()
    portal = Portal(conn, log, answer)
    name = dbus.service.BusName(BUS_NAME, conn)
    log(call="ready")
    loop = GLib.MainLoop()
    try:
        loop.run()
    finally:
        del name, portal


if __name__ == "__main__":
    main()
