#!/usr/bin/python3
# Stands in for the person at a headless GNOME desktop during the portal typing tests:
#  - keeps a session of mutter's own remote desktop open, as a physical keyboard would be (headless mutter
#    has no keyboard on its seat until the first injected key, and that key is lost);
#  - answers GNOME's "Remote desktop" question through the accessibility bus: ticks "Allow remote
#    interaction" and presses Share;
# Writes "ready" and "answered" lines to the file named by its first argument.
import sys
import time

import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi, Gio, GLib  # noqa: E402

MUTTER = 'org.gnome.Mutter.RemoteDesktop'
log_path = sys.argv[1]
bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)


def log(line):
    with open(log_path, 'a') as f:
        f.write(line + '\n')


def call(path, iface, method, args=None, reply='()'):
    return bus.call_sync(MUTTER, path, iface, method, args, GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, 10000, None)


own = None
for _ in range(100):
    try:
        own = call('/org/gnome/Mutter/RemoteDesktop', MUTTER, 'CreateSession', None, '(o)').unpack()[0]
        break
    except GLib.Error:
        time.sleep(0.1)
if own is None:
    log('mutter offers no remote desktop')
    sys.exit(1)
call(own, MUTTER + '.Session', 'Start')
# A Shift press and release: the seat has its keyboard from now on.
for state in (True, False):
    call(own, MUTTER + '.Session', 'NotifyKeyboardKeycode', GLib.Variant('(ub)', (42, state)))
log('ready')




def walk(node, found, depth=0):
    if node is None or depth > 25:
        return
    found.append(node)
    for i in range(node.get_child_count()):
        walk(node.get_child_at_index(i), found, depth + 1)


def question():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        nodes = []
        walk(app, nodes)
        for n in nodes:
            if n.get_role_name() == 'frame' and n.get_name() == 'Remote desktop':
                inside = []
                walk(n, inside)
                return inside
    return None


while True:
    try:
        nodes = question()
        if nodes:
            box = next((n for n in nodes if n.get_role_name() == 'check box'), None)
            share = next((n for n in nodes if n.get_role_name() == 'push button' and 'Share' in n.get_name()),
                         None)
            if box and share:
                if not box.get_state_set().contains(Atspi.StateType.CHECKED):
                    box.do_action(0)
                    time.sleep(0.2)
                share.do_action(0)
                log('answered')
                for _ in range(50):  # until the question has gone
                    time.sleep(0.1)
                    if not question():
                        break
    except GLib.Error:
        pass
    time.sleep(0.1)
