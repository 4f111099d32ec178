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
- the log folder writable by the Users group: wixl cannot write MsiLockPermissionsEx.

  finish-msi.py PACKAGE.msi
"""
import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
CODEPAGE = 936
LANGUAGE = 2052
ENGLISH_NAME = 'Orla Nova e-Textbook VIP Card'
VERSION_MAX_INCLUSIVE = 0x200
# bin\log (the LogFolder row of CreateFolder): full control for SYSTEM and the Administrators.
# The Users group (BU, S-1-5-32-545) may list the folder and add files to it (0x1200ab, this
# folder only), and read and append to the files in it (0x12008d, files only): every user can
# log, also into a minute's file that another user began, but none can rewrite, delete or
# rename another's lines or the folder. The creator of a file (CO) may modify it (0x1301bf).
LOG_FOLDER_SDDL = ('D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x12008d;;;BU)'
                   '(A;OIIO;0x1301bf;;;CO)')


def window_title():
    ui = open(os.path.join(ROOT, 'ui', 'mainpage.ui'), encoding='utf-8').read()
    return re.search(r'<property name="windowTitle">\s*<string>([^<]+)</string>', ui).group(1)


def export(package, table):
    """The table's three header lines and its rows, as msiinfo exports them (UTF-8)."""
    text = subprocess.run(['msiinfo', 'export', package, table], check=True,
                          stdout=subprocess.PIPE).stdout.decode('utf-8')
    lines = text.split('\r\n')
    return lines[:3], [line.split('\t') for line in lines[3:] if line]


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

        header, rows = export(package, 'Property')
        for row in rows:
            if row[0] == 'ProductName':
                row[1] = name
        tables.append(write(folder, 'Property', header, rows))

        header, rows = export(package, 'Shortcut')
        for row in rows:
            # Name and Description
            for column in (2, 6):
                if row[column] == ENGLISH_NAME:
                    row[column] = name
        tables.append(write(folder, 'Shortcut', header, rows))

        header, rows = export(package, 'Upgrade')
        for row in rows:
            if row[6] == 'WIX_UPGRADE_DETECTED':
                row[4] = str(int(row[4]) | VERSION_MAX_INCLUSIVE)
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
    _, properties = export(package, 'Property')
    _, shortcuts = export(package, 'Shortcut')
    _, upgrades = export(package, 'Upgrade')
    _, locks = export(package, 'MsiLockPermissionsEx')
    problems = []
    if ['ProductName', name] not in properties:
        problems.append('ProductName')
    if any(row[2] != name for row in shortcuts):
        problems.append('shortcut names')
    if not any(row[6] == 'WIX_UPGRADE_DETECTED' and int(row[4]) & VERSION_MAX_INCLUSIVE
               for row in upgrades):
        problems.append('same-version upgrade')
    if not any(row[3] == LOG_FOLDER_SDDL for row in locks):
        problems.append('MsiLockPermissionsEx')
    if not re.search(r'^Template: .*;%d$' % LANGUAGE, subprocess.run(
            ['msiinfo', 'suminfo', package], check=True,
            stdout=subprocess.PIPE).stdout.decode('utf-8'), re.M):
        problems.append('template language')
    if problems:
        sys.exit('error: %s: not finished: %s' % (package, ', '.join(problems)))


if __name__ == '__main__':
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    finish(sys.argv[1])
