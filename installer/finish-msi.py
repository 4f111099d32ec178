#!/usr/bin/env python3
"""Finishes the MSI that wixl built from vipcard.wxs, with msitools, where wixl 0.101 falls short:

- the names in Chinese: any non-ASCII string makes wixl crash while it writes the package
  (libmsi converts its strings to the build machine's ANSI code page, 1252, and the failed
  conversion of a Chinese character ends in a segmentation fault), so the package is built with
  English names and then given code page 936 and the main window's title as the product name
  (the installed programs' entry) and as the shortcuts' names, and its summary the language
  2052 (wixl writes 1033 there whatever the Package element says);
- same-version upgrades: wixl's MajorUpgrade knows no AllowSameVersionUpgrades, so a rebuilt
  1.0 would install beside an installed 1.0 (every build has a new product code); the upgrade
  row gets msidbUpgradeAttributesVersionMaxInclusive;
- the log folder's permissions (users add and append, administrators alone rewrite or delete):
  wixl cannot write MsiLockPermissionsEx.

  finish-msi.py PACKAGE.msi           finish it, then check it as --check does
  finish-msi.py --check PACKAGE.msi   only check it: exit 1 naming each part not finished
"""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
CODEPAGE = 936
LANGUAGE = 2052
ENGLISH_NAME = 'Orla Nova e-Textbook VIP Card'
VERSION_MAX_INCLUSIVE = 0x200
# bin\log (the LogFolder row of CreateFolder), protected (P): nothing inherits from Program Files,
# whose CREATOR OWNER entry would give each file's creator full control of it. SYSTEM and the
# Administrators have full control. The Users group (BU, S-1-5-32-545) may list the folder and
# add files to it (0x1200ab, this folder only: no subfolders, no deleting) and read and append
# to the files in it (0x12008d, files only: no FILE_WRITE_DATA, DELETE or WRITE_DAC), so every
# user logs, also into a minute's file that another user began, and none rewrites, deletes or
# renames lines. OWNER RIGHTS (OW, S-1-3-4) replaces the owner's implicit READ_CONTROL and
# WRITE_DAC with READ_CONTROL alone: a file's creator cannot widen its own rights (only the
# handle that creates a file gets whatever access it asks for: no folder permission limits it).
LOG_FOLDER_SDDL = ('D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x12008d;;;BU)'
                   '(A;OIIO;0x20000;;;OW)')
WIX = '{http://schemas.microsoft.com/wix/2006/wi}'


def window_title():
    ui = open(os.path.join(ROOT, 'ui', 'mainpage.ui'), encoding='utf-8').read()
    return re.search(r'<property name="windowTitle">\s*<string>([^<]+)</string>', ui).group(1)


def export(package, table):
    """The table's three header lines and its rows, as msiinfo exports them (UTF-8); a table
    the package lacks has none."""
    result = subprocess.run(['msiinfo', 'export', package, table], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    if result.returncode != 0:
        return [], []
    lines = result.stdout.decode('utf-8').split('\r\n')
    return lines[:3], [line.split('\t') for line in lines[3:] if line]


def declared_shortcuts():
    """Shortcut Id: (Name, Description) of every Shortcut of vipcard.wxs, as finished."""
    wxs = ElementTree.parse(os.path.join(ROOT, 'installer', 'vipcard.wxs'))
    name = window_title()
    finished = lambda text: name if text == ENGLISH_NAME else text
    return {shortcut.get('Id'): (finished(shortcut.get('Name')),
                                 finished(shortcut.get('Description', '')))
            for shortcut in wxs.iter(WIX + 'Shortcut')}


def write(folder, table, header, rows):
    # libmsi keeps its strings as UTF-8 and converts them to the database's code page when it
    # saves the package.
    with open(os.path.join(folder, table + '.idt'), 'w', encoding='utf-8', newline='') as idt:
        idt.write('\r\n'.join(header + ['\t'.join(row) for row in rows]) + '\r\n')
    return os.path.join(folder, table + '.idt')


def finish(package):
    name = window_title()
    with tempfile.TemporaryDirectory() as folder:
        tables = []
        # The string pool's code page: how Windows Installer reads every string of the package.
        codepage = os.path.join(folder, '_ForceCodepage.idt')
        with open(codepage, 'w', newline='') as idt:
            idt.write('\r\n\r\n%d\t_ForceCodepage\r\n' % CODEPAGE)
        tables.append(codepage)

        # A table wixl did not write is left for the check below to name.
        header, rows = export(package, 'Property')
        for row in rows:
            if row[0] == 'ProductName':
                row[1] = name
        if header:
            tables.append(write(folder, 'Property', header, rows))

        header, rows = export(package, 'Shortcut')
        for row in rows:
            # Name and Description
            for column in (2, 6):
                if row[column] == ENGLISH_NAME:
                    row[column] = name
        if header:
            tables.append(write(folder, 'Shortcut', header, rows))

        header, rows = export(package, 'Upgrade')
        for row in rows:
            if row[6] == 'WIX_UPGRADE_DETECTED':
                row[4] = str(int(row[4]) | VERSION_MAX_INCLUSIVE)
        if header:
            tables.append(write(folder, 'Upgrade', header, rows))

        tables.append(write(folder, 'MsiLockPermissionsEx', [
            'MsiLockPermissionsEx\tLockObject\tTable\tSDDLText\tCondition',
            's72\ts72\ts32\ts0\tS255', 'MsiLockPermissionsEx\tMsiLockPermissionsEx'],
            [['LogFolderUsers', 'LogFolder', 'CreateFolder', LOG_FOLDER_SDDL, '']]))

        command = ['msibuild', package]
        for table in tables:
            command += ['-i', table]
        subprocess.run(command, check=True)

    # The summary's language list: wixl writes 1033 whatever the Package says. msibuild -s sets
    # subject, author, template and package code together: the first two and the last kept.
    summary = subprocess.run(['msiinfo', 'suminfo', package], check=True,
                             stdout=subprocess.PIPE).stdout.decode('utf-8')
    field = lambda label: re.search('^%s: (.*)$' % re.escape(label), summary, re.M).group(1)
    template = field('Template').split(';')[0] + ';%d' % LANGUAGE
    subprocess.run(['msibuild', package, '-s', field('Subject'), field('Author'), template,
                    field('Revision number (UUID)')], check=True)

    # msibuild reports a table it could not import nowhere: read the package back.
    check(package)


def problems(package):
    """What of the finishing, and of the rows it relies on, the package lacks."""
    name = window_title()
    found = []
    if ['ProductName', name] not in export(package, 'Property')[1]:
        found.append('ProductName')
    # Every shortcut that vipcard.wxs declares, under the Chinese name: none may be missing.
    shortcuts = {row[0]: (row[2], row[6]) for row in export(package, 'Shortcut')[1]}
    for shortcut, expected in sorted(declared_shortcuts().items()):
        if shortcuts.get(shortcut) != expected:
            found.append('shortcut ' + shortcut)
    if not any(row[6] == 'WIX_UPGRADE_DETECTED' and int(row[4]) & VERSION_MAX_INCLUSIVE
               for row in export(package, 'Upgrade')[1]):
        found.append('same-version upgrade')
    # Without its CreateFolder row the folder is neither created nor locked: Windows Installer
    # applies the permission row only to an object it installs.
    if ['LogFolder', 'LogFolder'] not in export(package, 'CreateFolder')[1]:
        found.append('CreateFolder LogFolder')
    # Exactly one row, unconditional: two that apply fail the install (error 1942).
    locks = [row[1:] for row in export(package, 'MsiLockPermissionsEx')[1]
             if row[1:3] == ['LogFolder', 'CreateFolder']]
    if locks != [['LogFolder', 'CreateFolder', LOG_FOLDER_SDDL, '']]:
        found.append('MsiLockPermissionsEx LogFolder')
    summary = subprocess.run(['msiinfo', 'suminfo', package], stdout=subprocess.PIPE).stdout
    if not re.search(r'^Template: .*;%d$' % LANGUAGE, summary.decode('utf-8'), re.M):
        found.append('template language')
    return found


def check(package):
    found = problems(package)
    if found:
        sys.exit('error: %s: not finished: %s' % (package, ', '.join(found)))


if __name__ == '__main__':
    if len(sys.argv) == 3 and sys.argv[1] == '--check':
        check(sys.argv[2])
    elif len(sys.argv) == 2 and not sys.argv[1].startswith('-'):
        finish(sys.argv[1])
    else:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
