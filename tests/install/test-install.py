#!/usr/bin/env python3
"""The installed layout: cmake --install of the build into a fresh prefix, then the installed
program started as its shortcuts start it, from bin/ on Qt's offscreen platform. It must keep
running and open its pictures from bin/images/ and its style sheet from mainqss/, which it
finds relative to that working directory; inotify on the installed folders tells which of
their files it opened (a file it looks for in the wrong place is simply not there to open).

  test-install.py CMAKE SOURCE_DIR BUILD_DIR PREFIX
"""
import ctypes
import ctypes.util
import filecmp
import os
import select
import struct
import subprocess
import sys
import time

IN_OPEN = 0x20
IN_ISDIR = 0x40000000
EVENT_HEADER = struct.Struct('iIII')
# What the main window shows as soon as it is up; the guide's pictures wait for the guide.
STARTUP_FILES = ['bin/images/key.png', 'bin/images/close.png', 'bin/images/mini.png',
                 'bin/images/ebook.png', 'mainqss/main.qss']
# Only a prefix holding this file, made by an earlier run, is ever removed.
MARKER = '.lessa-install-test'
# The most a start may take before the test gives up; a passing run ends as soon as every file
# above has been opened.
START_LIMIT_SECONDS = 60

failures = []


def check(what, ok, detail=''):
    print(('PASS   : ' if ok else 'FAIL!  : ') + what)
    if not ok:
        if detail:
            print('   ' + detail.replace('\n', '\n   '))
        failures.append(what)
    return ok


def fresh_folder(path, build_dir):
    if os.path.lexists(path):
        if not os.path.isfile(os.path.join(path, MARKER)):
            sys.exit(f'error: {path} exists and was not made by this test; not removing it')
        remover = os.path.join(os.path.dirname(__file__), '..', '..', 'scripts', 'remove-tree.sh')
        if subprocess.run([remover, path, build_dir]).returncode != 0:
            sys.exit(f'error: could not remove {path}')
    os.makedirs(path)
    with open(os.path.join(path, MARKER), 'w') as marker:
        marker.write(path + '\n')


def same_files(expected_dir, actual_dir):
    """The names missing from actual_dir or different there."""
    return [name for name in sorted(os.listdir(expected_dir))
            if not os.path.isfile(os.path.join(actual_dir, name))
            or not filecmp.cmp(os.path.join(expected_dir, name), os.path.join(actual_dir, name),
                               shallow=False)]


def watch_tree(prefix):
    """An inotify descriptor reporting the opening of any file below prefix, and its watches."""
    libc = ctypes.CDLL(ctypes.util.find_library('c'), use_errno=True)
    fd = libc.inotify_init1(os.O_CLOEXEC)
    if fd < 0:
        raise OSError(ctypes.get_errno(), 'inotify_init1')
    watches = {}
    for root, _, _ in os.walk(prefix):
        wd = libc.inotify_add_watch(fd, os.fsencode(root), IN_OPEN)
        if wd < 0:
            raise OSError(ctypes.get_errno(), 'inotify_add_watch ' + root)
        watches[wd] = os.path.relpath(root, prefix)
    return fd, watches


def opened_files(fd, watches, timeout):
    """The files (relative to the prefix) reported opened within timeout seconds."""
    if not select.select([fd], [], [], timeout)[0]:
        return []
    data = os.read(fd, 65536)
    names, offset = [], 0
    while offset < len(data):
        wd, mask, _, length = EVENT_HEADER.unpack_from(data, offset)
        offset += EVENT_HEADER.size
        name = data[offset:offset + length].split(b'\0', 1)[0].decode()
        offset += length
        if name and not mask & IN_ISDIR and wd in watches:
            names.append(os.path.normpath(os.path.join(watches[wd], name)))
    return names


def main(cmake, source_dir, build_dir, prefix):
    work = os.path.dirname(prefix)
    fresh_folder(prefix, build_dir)
    install = subprocess.run([cmake, '--install', build_dir, '--prefix', prefix],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                             universal_newlines=True)
    if not check('cmake --install into a fresh prefix', install.returncode == 0, install.stdout):
        return 1

    program = os.path.join(prefix, 'bin', 'vipcard')
    if not check('the program is installed as bin/vipcard', os.access(program, os.X_OK)):
        return 1
    # Also the pictures that only the guide shows, which a start does not open.
    differing = same_files(os.path.join(source_dir, 'images'), os.path.join(prefix, 'bin/images'))
    check('bin/images/ holds every picture of images/', not differing,
          'missing or different: ' + ' '.join(differing))

    # Nothing of the user's own settings or session reaches the program.
    config = os.path.join(work, 'config')
    runtime = os.path.join(work, 'runtime')
    os.makedirs(config, exist_ok=True)
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    os.chmod(runtime, 0o700)
    env = dict(os.environ, QT_QPA_PLATFORM='offscreen', XDG_CONFIG_HOME=config,
               XDG_RUNTIME_DIR=runtime)

    fd, watches = watch_tree(prefix)
    stderr_path = os.path.join(work, 'vipcard.stderr')
    with open(stderr_path, 'w') as stderr:
        started = subprocess.Popen([program], cwd=os.path.join(prefix, 'bin'), env=env,
                                   stdin=subprocess.DEVNULL, stdout=stderr, stderr=stderr)
    opened = set()
    deadline = time.monotonic() + START_LIMIT_SECONDS
    try:
        while (not set(STARTUP_FILES) <= opened and started.poll() is None
               and time.monotonic() < deadline):
            opened.update(opened_files(fd, watches, 0.5))
        opened.update(opened_files(fd, watches, 0))
        running = started.poll() is None
    finally:
        started.terminate()
        try:
            started.wait(10)
        except subprocess.TimeoutExpired:
            started.kill()
            started.wait()
        os.close(fd)
    with open(stderr_path) as stderr:
        output = stderr.read().strip()
    check('the installed program starts from bin/ and keeps running', running,
          f'it ended with exit code {started.returncode}' + (':\n' + output if output else ''))
    for name in STARTUP_FILES:
        check(f'it opens {name}', name in opened,
              'files it opened below the prefix: ' + (' '.join(sorted(opened)) or 'none'))

    print(f'{len(failures)} failed' if failures else 'all passed')
    return 1 if failures else 0


if __name__ == '__main__':
    if len(sys.argv) != 5:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    sys.exit(main(*sys.argv[1:]))
