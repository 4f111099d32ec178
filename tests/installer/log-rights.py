#!/usr/bin/env python3
"""Decodes the log folder's SDDL (of installer/finish-msi.py, or of PACKAGE.msi's LogFolder row)
into the rights Windows grants on the folder and on a log file a standard user created there, and
checks them (Wine enforces no ACLs).   log-rights.py [PACKAGE.msi]"""
from functools import reduce
import os
import re
import runpy
import sys

READ_DATA, WRITE_DATA, APPEND_DATA, WRITE_EA, DELETE_CHILD = 0x1, 0x2, 0x4, 0x10, 0x40
READ_ATTRIBUTES, WRITE_ATTRIBUTES, DELETE, READ_CONTROL = 0x80, 0x100, 0x10000, 0x20000
WRITE_DAC, WRITE_OWNER, SYNCHRONIZE, FILE_ALL = 0x40000, 0x80000, 0x100000, 0x1f01ff
RIGHTS = {'FA': FILE_ALL, 'GA': FILE_ALL, 'RC': READ_CONTROL, 'WD': WRITE_DAC}
ACE = r'\(A;([A-Z]*);(%s|0x[\da-fA-F]+);;;([A-Z]{2})\)' % '|'.join(RIGHTS)  # flags, rights, alias
PROGRAM_FILES = '(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)'  # inherited unless protected
# Token groups: "user" is a standard user, "creator" another one, who created the log file.
GROUPS = {'user': {'BU', 'AU', 'WD', 'user'}, 'creator': {'BU', 'AU', 'WD', 'creator'},
          'admin': {'BA', 'AU', 'WD'}, 'system': {'SY', 'BA', 'WD'}}
# CreateFileW adds SYNCHRONIZE and FILE_READ_ATTRIBUTES to what LogPlatform_win.cpp asks for.
PROGRAM_OPEN = APPEND_DATA | READ_DATA | SYNCHRONIZE | READ_ATTRIBUTES
EXPECTED = [  # who, on what, the rights they have and those they lack, what that means
    ('user creator', 'file', PROGRAM_OPEN, 0, 'opens a log file as the program does'),
    ('user creator', 'file', 0, WRITE_DATA, 'cannot rewrite it'),
    ('user creator', 'file', 0, WRITE_ATTRIBUTES | WRITE_EA, 'cannot change its attributes'),
    ('user creator', 'file', 0, DELETE, 'cannot delete or rename it'),
    ('user creator', 'file', 0, WRITE_DAC | WRITE_OWNER, 'cannot change its permissions or owner'),
    ('user', 'folder', WRITE_DATA, 0, 'adds files to the folder'),
    ('user', 'folder', 0, APPEND_DATA | WRITE_DAC | WRITE_OWNER | DELETE,
     'adds no folder, changes no permission of the folder'),
    ('admin system', 'file', FILE_ALL, 0, 'rewrites, deletes and re-permits a log file')]
FINISH_MSI = runpy.run_path(
    os.path.join(os.path.dirname(__file__), '..', '..', 'installer', 'finish-msi.py'))


def problems(sddl):
    match = (re.fullmatch(r'D:([PAIR]*)((?:%s)*)' % ACE, sddl)
             or sys.exit('error: not a DACL of allowing entries as decoded here: ' + sddl))
    handed_down = '' if 'P' in match.group(1) else PROGRAM_FILES
    entries = [(flags, trustee, RIGHTS.get(rights) or int(rights, 16))
               for flags, rights, trustee in re.findall(ACE, match.group(2) + handed_down)]
    folder = [(trustee, mask) for flags, trustee, mask in entries if 'IO' not in flags]
    # A file inherits the object-inherit entries, CREATOR OWNER and OWNER RIGHTS naming its owner
    # (READ_CONTROL, WRITE_DAC unless OWNER RIGHTS says otherwise); DELETE_CHILD deletes it too.
    inherits = [(trustee, mask) for flags, trustee, mask in entries if 'OI' in flags]
    inherits += [] if 'OW' in dict(inherits) else [('OW', READ_CONTROL | WRITE_DAC)]
    file = [('creator' if trustee in ('CO', 'OW') else trustee, mask) for trustee, mask in inherits]
    file += [(trustee, DELETE) for trustee, mask in folder if mask & DELETE_CHILD]
    granted = lambda who, dacl: reduce(
        int.__or__, (mask for trustee, mask in dacl if trustee in GROUPS[who]), 0)
    return [who + ': ' + what for whos, on, has, lacks, what in EXPECTED for who in whos.split()
            if granted(who, file if on == 'file' else folder) & (has | lacks) != has]


if __name__ == '__main__':
    sddl = FINISH_MSI['LOG_FOLDER_SDDL']
    if len(sys.argv) > 1:
        found = [row[3] for row in FINISH_MSI['export'](sys.argv[1], 'MsiLockPermissionsEx')[1]
                 if row[1:3] == ['LogFolder', 'CreateFolder']]
        sddl = found[0] if len(found) == 1 else sys.exit('error: no single LogFolder row')
    print('log folder:', sddl)
    # The decoder itself must see the faults of permissions that once shipped or nearly did.
    weaker = ['D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x12008d;;;BU)'
              '(A;OIIO;0x1301bf;;;CO)', sddl.replace('D:P', 'D:', 1),
              re.sub(r'\(A;OIIO;[^;]*;;;OW\)', '', sddl)]
    failed = problems(sddl) + ['decoder: no fault seen in ' + bad
                               for bad in weaker if not problems(bad)]
    for what in failed:
        print('FAIL!  :', what)
    sys.exit(1 if failed else 0)
