#!/usr/bin/env python3
"""Prints the target path, the working directory and the icon location of a Windows shell link
(.lnk), one a line, from its LinkInfo and StringData ([MS-SHLLINK])."""
import struct
import sys

data = open(sys.argv[1], 'rb').read()
flags, = struct.unpack_from('<I', data, 0x14)
pos = 0x4C
if flags & 0x01:  # HasLinkTargetIDList
    size, = struct.unpack_from('<H', data, pos)
    pos += 2 + size
target = ''
if flags & 0x02:  # HasLinkInfo: the ANSI LocalBasePath and CommonPathSuffix
    size, = struct.unpack_from('<I', data, pos)
    base, = struct.unpack_from('<I', data, pos + 16)
    suffix, = struct.unpack_from('<I', data, pos + 24)

    def ansi(offset):
        return data[pos + offset:data.index(b'\0', pos + offset)].decode('cp1252')

    target = (ansi(base) if base else '') + (ansi(suffix) if suffix else '')
    pos += size
unicode = flags & 0x80
strings = {}
for bit, name in ((0x04, 'name'), (0x08, 'relative'), (0x10, 'workdir'), (0x20, 'arguments'),
                  (0x40, 'icon')):
    if flags & bit:
        count, = struct.unpack_from('<H', data, pos)
        width = 2 if unicode else 1
        strings[name] = data[pos + 2:pos + 2 + count * width].decode(
            'utf-16-le' if unicode else 'cp1252')
        pos += 2 + count * width
print(target)
print(strings.get('workdir', ''))
print(strings.get('icon', ''))
