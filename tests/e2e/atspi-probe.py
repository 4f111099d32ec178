#!/usr/bin/python3
"""Reads a running program through the AT-SPI accessibility bus, as Orca does.

  atspi-probe.py list PID              one line per accessible object of the program:
                                       depth, role, name, description, actions (tab-separated)
  atspi-probe.py press PID ROLE NAME   runs the press action of the first object of that role
                                       and name
  atspi-probe.py focus PID SECONDS     prints "ready", then role and name of each object of
                                       the program that gains the focus within SECONDS

Waits up to 20 s for the program to appear on the bus; exit 1 when it does not, or when
nothing matches.
"""
import sys
import time

import pyatspi
from gi.repository import GLib


def application(pid):
    for _ in range(200):
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and app.get_process_id() == pid and app.childCount:
                    return app
            except Exception:  # an application that left the bus while being read
                pass
        time.sleep(0.1)
    sys.exit(f"no application with process id {pid} on the accessibility bus")


def role(node):
    """The role as pyatspi's constant names it ("push button" for ROLE_PUSH_BUTTON): unlike
    getRoleName(), the same in every release (newer AT-SPI names a push button "button")."""
    return str(pyatspi.Role(int(node.getRole()))).removeprefix("ROLE_").lower().replace("_", " ")


def walk(node, depth=0):
    yield depth, node
    for child in node:
        if child is not None:
            yield from walk(child, depth + 1)


def actions(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def main(command, pid, *target):
    app = application(int(pid))
    if command == "list":
        for depth, node in walk(app):
            print(depth, role(node), node.name, node.description,
                  ",".join(actions(node)), sep="\t")
        return
    if command == "focus":
        def focused(event):
            if event.detail1 and event.source.get_process_id() == int(pid):
                print(role(event.source), event.source.name, sep="\t", flush=True)
        pyatspi.Registry.registerEventListener(focused, "object:state-changed:focused")
        GLib.timeout_add(int(float(target[0]) * 1000), pyatspi.Registry.stop)
        print("ready", flush=True)
        pyatspi.Registry.start()
        return
    wanted_role, name = target
    for _, node in walk(app):
        if role(node) == wanted_role and node.name == name:
            names = actions(node)
            if "press" not in names and "Press" not in names:
                sys.exit(f"{wanted_role} '{name}' has no press action: {names}")
            node.queryAction().doAction(names.index("press" if "press" in names else "Press"))
            return
    sys.exit(f"no {wanted_role} named '{name}'")


if __name__ == "__main__":
    main(*sys.argv[1:])
