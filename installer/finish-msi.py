#!/usr/bin/env python3
"""Finishes, with msitools, the MSI that wixl 0.101 built from vipcard.wxs where wixl falls short:
- the names in Chinese: wixl crashes on any non-ASCII string (libmsi converts it to code page 1252),
  so the package, built in English, gets code page 936, the main window's title as product and
  shortcut name, and the summary language 2052 (wixl writes 1033 whatever the Package says);
- same-version upgrades (wixl knows no AllowSameVersionUpgrades): the upgrade row gets
  VersionMaxInclusive, or a rebuilt 1.0 (a new product code) would install beside a 1.0;
- the log folder's permissions: wixl cannot write MsiLockPermissionsEx.

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
CODEPAGE, LANGUAGE = 936, 2052
ENGLISH_NAME = 'Orla Nova e-Textbook VIP Card'
VERSION_MAX_INCLUSIVE = 0x200
# bin\log (CreateFolder's LogFolder), protected (P) from Program Files' CREATOR OWNER full control.
# SYSTEM, Administrators: full control. Users (BU): list and add files (0x1200ab, this folder only:
# no subfolders, no deleting), read and append to its files (0x12008d, files only: no WRITE_DATA,
# DELETE or WRITE_DAC): all log, also into another's file; none rewrites, deletes or renames lines.
# OWNER RIGHTS (OW): a file's creator keeps READ_CONTROL alone (only its creating handle has more).
LOG_FOLDER_SDDL = ('D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x12008d;;;BU)'
                   '(A;OIIO;0x20000;;;OW)')
WIX = '{http://schemas.microsoft.com/wix/2006/wi}'


def window_title():
    ui = open(os.path.join(ROOT, 'ui', 'mainpage.ui'), encoding='utf-8').read()
    return re.search(r'<property name="windowTitle">\s*<string>([^<]+)</string>', ui).group(1)


def chinese(text):
    return window_title() if text == ENGLISH_NAME else text


def export(package, table):
    # The header lines and rows as msiinfo exports them (UTF-8); none of a table it lacks.
    result = subprocess.run(['msiinfo', 'export', package, table], capture_output=True)
    lines = result.stdout.decode('utf-8').split('\r\n') if result.returncode == 0 else []
    return lines[:3], [line.split('\t') for line in lines[3:] if line]


def write(folder, table, header, rows):
    # libmsi keeps its strings as UTF-8 and converts them to the code page when it saves.
    path = os.path.join(folder, table + '.idt')
    with open(path, 'w', encoding='utf-8', newline='') as idt:
        idt.write('\r\n'.join(header + ['\t'.join(row) for row in rows]) + '\r\n')
    return path


def finish(package):
    with tempfile.TemporaryDirectory() as folder:
        # The string pool's code page: how Windows Installer reads every string of the package.
        tables = [write(folder, '_ForceCodepage', ['', '', '%d\t_ForceCodepage' % CODEPAGE], [])]
        for table in 'Property', 'Shortcut', 'Upgrade':
            header, rows = export(package, table)
            for row in rows:
                if table == 'Property' and row[0] == 'ProductName':
                    row[1] = window_title()
                elif table == 'Shortcut':  # Name and Description
                    row[2], row[6] = chinese(row[2]), chinese(row[6])
                elif table == 'Upgrade' and row[6] == 'WIX_UPGRADE_DETECTED':
                    row[4] = str(int(row[4]) | VERSION_MAX_INCLUSIVE)
            if header:  # a table wixl did not write is left for the check below to name
                tables.append(write(folder, table, header, rows))
        tables.append(write(folder, 'MsiLockPermissionsEx', [
            'MsiLockPermissionsEx\tLockObject\tTable\tSDDLText\tCondition',
            's72\ts72\ts32\ts0\tS255', 'MsiLockPermissionsEx\tMsiLockPermissionsEx'],
            [['LogFolderUsers', 'LogFolder', 'CreateFolder', LOG_FOLDER_SDDL, '']]))
        subprocess.run(['msibuild', package] + [arg for table in tables for arg in ('-i', table)],
                       check=True)

    # The summary's language: msibuild -s sets subject, author, template and package code at once.
    summary = subprocess.run(['msiinfo', 'suminfo', package], check=True,
                             stdout=subprocess.PIPE).stdout.decode('utf-8')
    field = lambda label: re.search('^%s: (.*)$' % re.escape(label), summary, re.M).group(1)
    template = field('Template').split(';')[0] + ';%d' % LANGUAGE
    subprocess.run(['msibuild', package, '-s', field('Subject'), field('Author'), template,
                    field('Revision number (UUID)')], check=True)
    # msibuild reports a table it could not import nowhere: read the package back.
    check(package)


def check(package):
    """Exits naming what of the finishing, and of the rows it relies on, the package lacks."""
    found = []
    if ['ProductName', window_title()] not in export(package, 'Property')[1]:
        found.append('ProductName')
    # Every Shortcut of vipcard.wxs, as finished: none may be missing.
    wxs = ElementTree.parse(os.path.join(ROOT, 'installer', 'vipcard.wxs'))
    declared = {shortcut.get('Id'): (chinese(shortcut.get('Name')),
                                     chinese(shortcut.get('Description', '')))
                for shortcut in wxs.iter(WIX + 'Shortcut')}
    shortcuts = {row[0]: (row[2], row[6]) for row in export(package, 'Shortcut')[1]}
    found += ['shortcut ' + shortcut for shortcut, names in sorted(declared.items())
              if shortcuts.get(shortcut) != names]
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
