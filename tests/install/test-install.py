#!/usr/bin/env python3
"""The installed layout: cmake --install of the build into a fresh prefix, then the installed
program started as its shortcuts start it, from bin/ on Qt's offscreen platform. It must keep
running and open its pictures from bin/images/ and its style sheet from mainqss/, which it
finds relative to that working directory; inotify on the installed folders tells which of
their files it opened (a file it looks for in the wrong place is simply not there to open).

  test-install.py CMAKE SOURCE_DIR BUILD_DIR PREFIX
"""
import ctypes, ctypes.util, filecmp, os, pathlib, select, struct, subprocess, sys, time

IN_OPEN, IN_ISDIR, EVENT_HEADER = 0x20, 0x40000000, struct.Struct('iIII')  # <sys/inotify.h>
# What the main window shows as soon as it is up; the guide's pictures wait for the guide.
STARTUP_FILES = ['bin/images/key.png', 'bin/images/close.png', 'bin/images/mini.png',
                 'bin/images/ebook.png', 'mainqss/main.qss']
MARKER = '.lessa-install-test'  # only a prefix holding it, made by an earlier run, is ever removed
START_LIMIT_SECONDS = 60  # the most a start may take; a passing one ends once all above are open
failures = []

def check(what, ok, detail=''):
    print(('PASS   : ' if ok else 'FAIL!  : ') + what)
    if not ok and detail:
        print('   ' + detail.replace('\n', '\n   '))
    failures.extend([] if ok else [what])
    return ok

def fresh_folder(path, build_dir):
    if os.path.lexists(path):
        if not os.path.isfile(os.path.join(path, MARKER)):
            sys.exit(f'error: {path} exists and was not made by this test; not removing it')
        remover = os.path.join(os.path.dirname(__file__), '..', '..', 'scripts', 'remove-tree.sh')
        if subprocess.run([remover, path, build_dir]).returncode != 0:
            sys.exit(f'error: could not remove {path}')
    os.makedirs(path)
    pathlib.Path(path, MARKER).write_text(path + '\n')

def watch_tree(prefix):  # an inotify descriptor for the files opened below prefix, and its watches
    libc = ctypes.CDLL(ctypes.util.find_library('c'), use_errno=True)
    fd, watches = libc.inotify_init1(os.O_CLOEXEC), {}
    if fd < 0:
        raise OSError(ctypes.get_errno(), 'inotify_init1')
    for root, _, _ in os.walk(prefix):
        wd = libc.inotify_add_watch(fd, os.fsencode(root), IN_OPEN)
        if wd < 0:
            raise OSError(ctypes.get_errno(), 'inotify_add_watch ' + root)
        watches[wd] = os.path.relpath(root, prefix)
    return fd, watches

def opened_files(fd, watches, timeout):  # the files (below the prefix) opened within timeout
    data = os.read(fd, 65536) if select.select([fd], [], [], timeout)[0] else b''
    while data:
        wd, mask, _, length = EVENT_HEADER.unpack_from(data)
        name = data[EVENT_HEADER.size:EVENT_HEADER.size + length].split(b'\0', 1)[0].decode()
        data = data[EVENT_HEADER.size + length:]
        if name and not mask & IN_ISDIR and wd in watches:
            yield os.path.normpath(os.path.join(watches[wd], name))

def main(cmake, source_dir, build_dir, prefix):
    work = os.path.dirname(prefix)
    fresh_folder(prefix, build_dir)
    install = subprocess.run([cmake, '--install', build_dir, '--prefix', prefix],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    program = os.path.join(prefix, 'bin', 'vipcard')
    if not (check('cmake --install into a fresh prefix', install.returncode == 0, install.stdout)
            and check('the program is installed as bin/vipcard', os.access(program, os.X_OK))):
        return 1
    # Also the pictures that only the guide shows, which a start does not open.
    images = os.path.join(source_dir, 'images')
    _, different, missing = filecmp.cmpfiles(images, os.path.join(prefix, 'bin/images'),
                                             os.listdir(images), shallow=False)
    check('bin/images/ holds every picture of images/', not (different or missing),
          'missing or different: ' + ' '.join(sorted(different + missing)))

    # Nothing of the user's own settings or session reaches the program.
    env = dict(os.environ, QT_QPA_PLATFORM='offscreen', XDG_CONFIG_HOME=work + '/config',
               XDG_RUNTIME_DIR=work + '/runtime')
    for folder in (env['XDG_CONFIG_HOME'], env['XDG_RUNTIME_DIR']):
        os.makedirs(folder, exist_ok=True)
    os.chmod(env['XDG_RUNTIME_DIR'], 0o700)  # as Qt wants it, also when an earlier run made it
    fd, watches = watch_tree(prefix)
    stderr_path = os.path.join(work, 'vipcard.stderr')
    with open(stderr_path, 'w') as stderr:
        started = subprocess.Popen([program], cwd=os.path.join(prefix, 'bin'), env=env,
                                   stdin=subprocess.DEVNULL, stdout=stderr, stderr=stderr)
    opened, deadline = set(), time.monotonic() + START_LIMIT_SECONDS
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
    output = pathlib.Path(stderr_path).read_text().strip()
    check('the installed program starts from bin/ and keeps running', running,
          f'it ended with exit code {started.returncode}' + (':\n' + output if output else ''))
    for name in STARTUP_FILES:
        check(f'it opens {name}', name in opened,
              'files it opened below the prefix: ' + (' '.join(sorted(opened)) or 'none'))
    print(f'{len(failures)} failed' if failures else 'all passed')
    return 1 if failures else 0

if __name__ == '__main__':
    sys.exit(main(*sys.argv[1:]) if len(sys.argv) == 5 else __doc__.splitlines()[-1].strip())
