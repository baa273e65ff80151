'''A desktop portal with the RemoteDesktop interface, for python-dbusmock.

Like xdg-desktop-portal, it learns who calls by opening /proc/<pid>/root of the process connected
to the bus, and refuses the call when it cannot (a process that keeps its memory closed). It
answers every Request through the Response signal on the path the caller's unique name and
handle_token give, as xdg-desktop-portal does: CreateSession and SelectDevices before their call
returns, Start a moment after, as a user would. It writes down each call, in order, and lets
the test choose the answers through org.tolvane.PortalMock.
'''
import os

import dbus
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.RemoteDesktop'
SYSTEM_BUS = False
CONTROL = 'org.tolvane.PortalMock'
REQUEST = 'org.freedesktop.portal.Request'
SESSION = 'org.freedesktop.portal.Session'


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {'AvailableDeviceTypes': dbus.UInt32(7),
                                    'version': dbus.UInt32(2)})
    _reset(mock, {})


def _reset(mock, settings):
    for path in list(getattr(mock, 'portal_objects', [])):
        mock.RemoveObject(path)
    mock.portal_objects = []
    mock.portal_log = []
    mock.sessions = {}
    mock.start_response = int(settings.get('start_response', 0))
    mock.start_devices = int(settings.get('start_devices', 1))
    mock.start_answers = bool(settings.get('start_answers', True))
    mock.close_after_notifications = int(settings.get('close_after_notifications', -1))
    mock.refuse_notification = int(settings.get('refuse_notification', -1))
    mock.foreign_session = bool(settings.get('foreign_session', False))
    mock.unknown_callers = bool(settings.get('unknown_callers', False))
    mock.notifications = 0
    mock.Set(MAIN_IFACE, 'AvailableDeviceTypes',
             dbus.UInt32(int(settings.get('available_types', 7))))


def _identify(mock, sender):
    '''Who calls: its root folder must open, as the portal checks a sandboxed caller's.'''
    bus = dbus.Interface(
        dbus.SessionBus().get_object('org.freedesktop.DBus', '/org/freedesktop/DBus'),
        'org.freedesktop.DBus')
    pid = int(bus.GetConnectionUnixProcessID(sender))
    try:
        if mock.unknown_callers:
            raise PermissionError
        os.close(os.open(f'/proc/{pid}/root', os.O_RDONLY | os.O_DIRECTORY))
    except OSError:
        mock.portal_log.append('unknown caller')
        raise dbus.exceptions.DBusException(f'Could not open /proc/{pid}/root',
                                            name='org.freedesktop.portal.Error.Failed')


def _sender_part(sender):
    return sender[1:].replace('.', '_')


def _options(options):
    return ' '.join(f'{key}={"yes" if key.endswith("_token") else options[key]}'
                    for key in sorted(options))


def _session_name(mock, handle):
    return mock.sessions.get(str(handle), {}).get('name', f'unknown:{handle}')


def _request(mock, sender, options):
    '''The Request object of a call, which the caller may close.'''
    token = str(options.get('handle_token', 'missing'))
    path = f'{MAIN_OBJ}/request/{_sender_part(sender)}/{token}'
    mock.AddObject(path, REQUEST, {}, [
        ('Close', '', '', lambda obj: mock.portal_log.append('Request.Close')),
    ])
    mock.portal_objects.append(path)
    return path


def _respond(mock, path, code, results):
    mock.EmitSignalDetailed(REQUEST, 'Response', 'ua{sv}',
                            [dbus.UInt32(code), dbus.Dictionary(results, signature='sv')],
                            {'path': dbus.ObjectPath(path)})
    # Answered: the Request object goes away.
    mock.RemoveObject(path)
    mock.portal_objects.remove(path)


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    _identify(self, sender)
    self.portal_log.append('CreateSession ' + _options(options))
    path = _request(self, sender, options)
    name = f'session{len(self.sessions) + 1}'
    handle = f'{MAIN_OBJ}/session/{_sender_part(sender)}/{options["session_handle_token"]}'
    self.sessions[handle] = {'name': name, 'started': False, 'closed': False}

    def close(obj):
        self.portal_log.append(f'Session.Close {name}')
        self.sessions[handle]['closed'] = True
    self.AddObject(handle, SESSION, {}, [('Close', '', '', close)])
    self.portal_objects.append(handle)
    given = f'{MAIN_OBJ}/session/{_sender_part(sender)}/someone_else' if self.foreign_session \
        else handle
    _respond(self, path, 0, {'session_handle': dbus.String(given)})
    return dbus.ObjectPath(path)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectDevices(self, session, options, sender=None):
    _identify(self, sender)
    self.portal_log.append(f'SelectDevices {_session_name(self, session)} ' + _options(options))
    path = _request(self, sender, options)
    _respond(self, path, 0, {})
    return dbus.ObjectPath(path)


@dbus.service.method(MAIN_IFACE, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
def Start(self, session, parent, options, sender=None):
    _identify(self, sender)
    self.portal_log.append(f'Start {_session_name(self, session)} parent="{parent}" ' +
                           _options(options))
    path = _request(self, sender, options)
    if self.start_answers:
        code, devices = self.start_response, self.start_devices
        if code == 0:
            self.sessions[str(session)]['started'] = True

        def answer():
            _respond(self, path, code, {'devices': dbus.UInt32(devices)})
            return False
        GLib.timeout_add(50, answer)
    return dbus.ObjectPath(path)


def _notify(self, session, options, what, state, sender):
    _identify(self, sender)
    entry = self.sessions.get(str(session))
    if not entry or not entry['started'] or entry['closed']:
        raise dbus.exceptions.DBusException('session not started',
                                            name='org.freedesktop.DBus.Error.AccessDenied')
    self.notifications += 1
    if self.notifications == self.refuse_notification:
        raise dbus.exceptions.DBusException('key refused',
                                            name='org.freedesktop.DBus.Error.Failed')
    self.portal_log.append(f'Key {entry["name"]} {what} {"press" if state else "release"}'
                           + (' ' + _options(options) if options else ''))
    if self.notifications == self.close_after_notifications:
        entry['closed'] = True
        self.EmitSignalDetailed(SESSION, 'Closed', 'a{sv}', [dbus.Dictionary({}, signature='sv')],
                                {'path': dbus.ObjectPath(str(session))})


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}iu', out_signature='', sender_keyword='sender')
def NotifyKeyboardKeysym(self, session, options, keysym, state, sender=None):
    _notify(self, session, options, f'0x{int(keysym):x}', state, sender)


@dbus.service.method(MAIN_IFACE, in_signature='oa{sv}iu', out_signature='', sender_keyword='sender')
def NotifyKeyboardKeycode(self, session, options, keycode, state, sender=None):
    _notify(self, session, options, f'code {int(keycode)}', state, sender)


@dbus.service.method(CONTROL, in_signature='a{sv}', out_signature='')
def Configure(self, settings):
    _reset(self, settings)


@dbus.service.method(CONTROL, in_signature='', out_signature='as')
def Calls(self):
    return dbus.Array(self.portal_log, signature='s')
