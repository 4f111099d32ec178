#!/usr/bin/env python3
"""Decodes the log folder's permissions (the SDDL that installer/finish-msi.py writes, or the
LogFolder row of PACKAGE.msi) into the rights that Windows' access check grants, on the folder
and on a log file that a standard user created there, and checks them: the Users group appends
and reads, the file's creator no more, and only the Administrators and SYSTEM rewrite, delete or
change permissions. Wine enforces no ACLs, so only this shows them.

  log-rights.py [PACKAGE.msi]     exit 1 if any right is wrong
"""
import importlib.util
import os
import re
import subprocess
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
READ_DATA, WRITE_DATA, APPEND_DATA = 0x1, 0x2, 0x4  # on a folder: list, add file, add folder
WRITE_EA, DELETE_CHILD, READ_ATTRIBUTES, WRITE_ATTRIBUTES = 0x10, 0x40, 0x80, 0x100
DELETE, READ_CONTROL, WRITE_DAC, WRITE_OWNER, SYNCHRONIZE = (
    0x10000, 0x20000, 0x40000, 0x80000, 0x100000)
FILE_ALL = 0x1f01ff
RIGHTS = {'FA': FILE_ALL, 'GA': FILE_ALL, 'RC': READ_CONTROL, 'SD': DELETE, 'WD': WRITE_DAC,
          'WO': WRITE_OWNER}
ALIASES = {'S-1-5-18': 'SY', 'S-1-5-32-544': 'BA', 'S-1-5-32-545': 'BU', 'S-1-3-0': 'CO',
           'S-1-3-4': 'OW', 'S-1-5-11': 'AU', 'S-1-1-0': 'WD'}
# What Program Files hands down unless the DACL is protected: CREATOR OWNER full control.
PROGRAM_FILES = '(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)'
# Token groups: "user" is a standard user, "creator" another one who owns the file.
PRINCIPALS = {'user': {'BU', 'AU', 'WD', 'user'}, 'creator': {'BU', 'AU', 'WD', 'creator'},
              'admin': {'BA', 'AU', 'WD'}, 'system': {'SY', 'BA', 'WD'}}
# CreateFileW adds SYNCHRONIZE and FILE_READ_ATTRIBUTES to what LogPlatform_win.cpp asks for.
PROGRAM_OPEN = APPEND_DATA | READ_DATA | SYNCHRONIZE | READ_ATTRIBUTES


def aces(sddl):
    """(type, flags, mask, trustee) of each ACE, and whether the DACL is protected."""
    match = re.fullmatch(r'D:([PAIR]*)((?:\([^()]*\))*)', sddl)
    if not match:
        sys.exit('error: not a DACL alone: ' + sddl)
    parsed = []
    for ace in re.findall(r'\(([^()]*)\)', match.group(2)):
        kind, flags, rights, _, _, trustee = ace.split(';')
        if rights.startswith('0x'):
            mask = int(rights, 16)
        else:
            mask = 0
            for symbol in re.findall('..', rights):
                mask |= RIGHTS[symbol]
        parsed.append((kind, set(re.findall('..', flags)), mask, ALIASES.get(trustee, trustee)))
    return parsed, 'P' in match.group(1)


def dacls(sddl):
    """The effective ACEs of the folder and of a file created in it by "creator"."""
    folder, protected = aces(sddl)
    if not protected:
        folder += [(kind, flags | {'ID'}, mask, trustee)
                   for kind, flags, mask, trustee in aces('D:' + PROGRAM_FILES)[0]]
    # A file inherits the object-inherit ACEs, CREATOR OWNER becoming its owner.
    file = [(kind, {'ID'}, mask, 'creator' if trustee == 'CO' else trustee)
            for kind, flags, mask, trustee in folder if 'OI' in flags]
    return [ace for ace in folder if 'IO' not in ace[1]], file


def granted(dacl, who, owner):
    groups = PRINCIPALS[who] | ({'OW'} if who == owner else set())
    allowed = denied = 0
    for kind, _, mask, trustee in dacl:
        if trustee in groups:
            if kind == 'A':
                allowed |= mask & ~denied
            else:
                denied |= mask
    # The owner's implicit rights, unless an OWNER RIGHTS entry replaces them.
    if who == owner and not any(trustee == 'OW' for _, _, _, trustee in dacl):
        allowed |= (READ_CONTROL | WRITE_DAC) & ~denied
    return allowed


def problems(sddl):
    folder, file = dacls(sddl)
    on_folder = {who: granted(folder, who, 'system') for who in PRINCIPALS}
    on_file = {who: granted(file, who, 'creator') for who in PRINCIPALS}
    may_delete = {who: bool(on_file[who] & DELETE or on_folder[who] & DELETE_CHILD)
                  for who in PRINCIPALS}
    expectations = []
    for who in 'user', 'creator':
        expectations += [
            ('%s: opens a log file as the program does' % who,
             on_file[who] & PROGRAM_OPEN == PROGRAM_OPEN),
            ('%s: cannot rewrite it' % who, not on_file[who] & WRITE_DATA),
            ('%s: cannot change its attributes (read-only)' % who,
             not on_file[who] & (WRITE_ATTRIBUTES | WRITE_EA)),
            ('%s: cannot delete or rename it' % who, not may_delete[who]),
            ('%s: cannot change its permissions or owner' % who,
             not on_file[who] & (WRITE_DAC | WRITE_OWNER))]
    expectations += [
        ('user: adds files to the folder', on_folder['user'] & WRITE_DATA),
        ('user: adds no folder, changes no permission of the folder',
         not on_folder['user'] & (APPEND_DATA | WRITE_DAC | WRITE_OWNER | DELETE))]
    for who in 'admin', 'system':
        expectations.append(('%s: rewrites, deletes and re-permits a log file' % who,
                             on_file[who] & FILE_ALL == FILE_ALL and may_delete[who]))
    return [what for what, holds in expectations if not holds]


def package_sddl(package):
    rows = subprocess.run(['msiinfo', 'export', package, 'MsiLockPermissionsEx'], check=True,
                          stdout=subprocess.PIPE).stdout.decode('utf-8').split('\r\n')[3:]
    found = [row.split('\t')[3] for row in rows if row.split('\t')[1:3] == ['LogFolder',
                                                                         'CreateFolder']]
    return found[0] if len(found) == 1 else sys.exit('error: no single LogFolder row')


def finish_msi_sddl():
    spec = importlib.util.spec_from_file_location(
        'finish_msi', os.path.join(ROOT, 'installer', 'finish-msi.py'))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.LOG_FOLDER_SDDL


if __name__ == '__main__':
    sddl = package_sddl(sys.argv[1]) if len(sys.argv) > 1 else finish_msi_sddl()
    print('log folder:', sddl)
    failed = problems(sddl)
    for what in failed:
        print('FAIL!  :', what)
    # The decoder itself: it must see the faults of permissions that once shipped or nearly did.
    for bad in ('D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x12008d;;;BU)'
                '(A;OIIO;0x1301bf;;;CO)', sddl.replace('D:P', 'D:', 1),
                re.sub(r'\(A;OIIO;[^;]*;;;OW\)', '', sddl)):
        if not problems(bad):
            failed.append('decoder: no fault seen in ' + bad)
            print('FAIL!  : the decoder sees no fault in', bad)
    sys.exit(1 if failed else 0)
