#!/usr/bin/env python3
"""Fails when the product's code uses a Qt class or function introduced after Qt 5.9.

Reads the "\\since 5.10" to "\\since 5.15" tags of Qt's own documentation comments in a
qtbase source tree, then looks at every use of those names in the product's sources (app,
engine, ui, cloud, tools). A use counts only where it cannot be an older overload: a new
class by its name; a new function by its name with a number of arguments that no overload
older than 5.10 of that name accepts. Uses inside "#if QT_VERSION >= QT_VERSION_CHECK(5, N, 0)"
(N at least the version that introduced it) are allowed.

    qt59-api-check.py QTBASE_SOURCE_DIR PRODUCT_DIR...
    qt59-api-check.py --self-test QTBASE_SOURCE_DIR
"""
import os
import re
import sys
import tempfile

SINCE = re.compile(r'\\since\s+(?:Qt\s+)?5\.(\d+)')
COMMENT = re.compile(r'/\*!(.*?)\*/', re.S)
CLASS = re.compile(r'\\class\s+([A-Za-z_][\w:]*)')
FN = re.compile(r'\\fn\s+(.*)')
IDENT = r'[A-Za-z_]\w*'
# Functions that a newer \property block documents but Qt had before: the block's \since dates
# the property, not the function. QWindow's transientParent became a property in 5.13
# (REVISION 13); QWindow has had setTransientParent() since Qt 5.0.
OLDER_THAN_THEIR_PROPERTY = {'QWindow::setTransientParent'}


def arg_range(params):
    """(minimum, maximum) number of arguments a parameter list accepts."""
    params = params.strip()
    if params in ('', 'void'):
        return 0, 0
    depth, parts, current = 0, [], ''
    for ch in params:
        if ch in '(<[{':
            depth += 1
        elif ch in ')>]}':
            depth -= 1
        if ch == ',' and depth == 0:
            parts.append(current)
            current = ''
        else:
            current += ch
    parts.append(current)
    last = parts[-1].strip()
    if '...' in last:
        # C varargs add nothing required; a parameter pack ("Args &&...args") takes one or more.
        return len(parts) - (1 if last == '...' else 0), 99
    required = sum(1 for p in parts if '=' not in p)
    return required, len(parts)


def parse_signature(signature):
    """(qualified name, short name, (min, max)) of a function signature, or None."""
    signature = signature.split('{')[0].strip()
    match = re.search(r'((?:' + IDENT + r'::)*~?(?:operator\s*\S+?|' + IDENT + r'))\s*\((.*)\)',
                      signature, re.S)
    if not match:
        return None
    qualified = re.sub(r'\s+', '', match.group(1))
    params = match.group(2)
    # Drop what follows the parameter list (const, noexcept, ...).
    depth = 0
    for i, ch in enumerate(params):
        if ch == '(':
            depth += 1
        elif ch == ')':
            if depth == 0:
                params = params[:i]
                break
            depth -= 1
    short = qualified.split('::')[-1]
    return qualified, short, arg_range(params)


def read_tags(qt_source):
    """New classes {name: minor}, new overloads {short name: [(range, minor, qualified)]} and
    old overload ranges {short name: [range]}."""
    new_classes, new_functions, old_functions = {}, {}, {}
    for root, _, files in os.walk(os.path.join(qt_source, 'src')):
        if '3rdparty' in root:
            continue
        for name in files:
            if not name.endswith(('.cpp', '.qdoc', '.h', '.mm')):
                continue
            with open(os.path.join(root, name), encoding='utf-8', errors='replace') as f:
                text = f.read()
            for block in COMMENT.finditer(text):
                body = block.group(1)
                since = SINCE.search(body)
                minor = int(since.group(1)) if since else 0
                cls = CLASS.search(body)
                if cls:
                    if minor > 9:
                        new_classes[cls.group(1).split('::')[-1]] = minor
                    continue
                fns = [m.group(1) for m in FN.finditer(body)]
                if not fns:
                    # Undocumented \fn: the definition that follows the comment.
                    following = text[block.end():block.end() + 400]
                    fns = [following.split('{')[0]] if '(' in following.split('{')[0] else []
                for fn in fns:
                    parsed = parse_signature(fn)
                    if not parsed:
                        continue
                    qualified, short, rng = parsed
                    tagged = 0 if qualified in OLDER_THAN_THEIR_PROPERTY else minor
                    old_functions.setdefault(short, []).append((rng, tagged, qualified))
    # Members of a new class are as new as their class, tagged or not.
    for short, entries in old_functions.items():
        for rng, minor, qualified in entries:
            owner = qualified.split('::')[-2] if '::' in qualified else ''
            minor = max(minor, new_classes.get(owner, 0))
            if minor > 9:
                new_functions.setdefault(short, []).append((rng, minor, qualified))
    # Older overloads: documentation and definitions often omit default arguments, so any
    # call with up to as many arguments may be one of them.
    old_ranges = {}
    for short, entries in old_functions.items():
        for (lo, hi), minor, qualified in entries:
            owner = qualified.split('::')[-2] if '::' in qualified else ''
            if max(minor, new_classes.get(owner, 0)) <= 9:
                old_ranges.setdefault(short, []).append((0, hi))
    return new_classes, new_functions, old_ranges


GUARD = re.compile(r'#\s*if\s+QT_VERSION\s*>=\s*QT_VERSION_CHECK\s*\(\s*5\s*,\s*(\d+)')


def strip_comments_and_strings(line, in_block):
    out, i = '', 0
    while i < len(line):
        if in_block:
            end = line.find('*/', i)
            if end < 0:
                return out, True
            i, in_block = end + 2, False
        elif line.startswith('/*', i):
            in_block, i = True, i + 2
        elif line.startswith('//', i):
            break
        elif line[i] in '"\'':
            quote, i = line[i], i + 1
            while i < len(line) and line[i] != quote:
                i += 2 if line[i] == '\\' else 1
            i += 1
            out += '""'
        else:
            out += line[i]
            i += 1
    return out, in_block


def call_args(text, start):
    """Number of arguments of the call whose "(" is at text[start], or None."""
    depth, count, seen = 0, 0, False
    for ch in text[start:]:
        if ch in '([{':
            depth += 1
            if depth == 1:
                continue
        elif ch in ')]}':
            depth -= 1
            if depth == 0:
                return count + 1 if seen else 0
        elif ch == ',' and depth == 1:
            count += 1
            continue
        if depth >= 1 and not ch.isspace():
            seen = True
    return None


def scan(paths, new_classes, new_functions, old_functions):
    problems = []
    class_names = re.compile(r'\b(' + '|'.join(map(re.escape, new_classes)) + r')\b')
    call = re.compile(r'(?:\.|->|::)\s*(' + IDENT + r')\s*(?=\()|\b(' + IDENT + r')\s*(?=\()')
    files = []
    for path in paths:
        if os.path.isfile(path):
            files.append(path)
        for root, _, names in os.walk(path):
            files += [os.path.join(root, n) for n in names if n.endswith(('.cpp', '.h'))]
    for file in sorted(set(files)):
        with open(file, encoding='utf-8', errors='replace') as f:
            lines = f.read().split('\n')
        guards, in_block = [], False
        code = []
        for number, raw in enumerate(lines, 1):
            stripped = raw.strip()
            if stripped.startswith('#'):
                guard = GUARD.match(stripped)
                if stripped.startswith(('#if', '# if')):
                    guards.append(int(guard.group(1)) if guard else 0)
                elif stripped.startswith(('#else', '#elif', '# else')) and guards:
                    guards[-1] = 0
                elif stripped.startswith(('#endif', '# endif')) and guards:
                    guards.pop()
                continue
            text, in_block = strip_comments_and_strings(raw, in_block)
            code.append((number, text, max(guards, default=0)))
        joined = '\n'.join(t for _, t, _ in code)
        offsets, position = [], 0
        for number, text, guard in code:
            offsets.append((position, number, guard))
            position += len(text) + 1

        def where(offset):
            line, guard = offsets[0][1], offsets[0][2]
            for start, number, g in offsets:
                if start > offset:
                    break
                line, guard = number, g
            return line, guard

        for match in class_names.finditer(joined):
            line, guard = where(match.start())
            minor = new_classes[match.group(1)]
            if guard < minor:
                problems.append(f'{file}:{line}: {match.group(1)} is new in Qt 5.{minor}')
        for match in call.finditer(joined):
            name = match.group(1) or match.group(2)
            if name not in new_functions:
                continue
            args = call_args(joined, match.end())
            if args is None:
                continue
            olds = old_functions.get(name, [])
            if any(lo <= args <= hi for lo, hi in olds):
                continue
            news = [(minor, q) for (lo, hi), minor, q in new_functions[name] if lo <= args <= hi]
            if not news:
                continue
            minor, qualified = min(news)
            line, guard = where(match.start())
            if guard < minor:
                problems.append(f'{file}:{line}: {qualified} with {args} argument(s) is new in '
                                f'Qt 5.{minor}')
    return problems


def self_test(qt_source, tags):
    cases = {
        'new class': ('QRandomGenerator *g = QRandomGenerator::global();', True),
        'new function': ('QString s; s = s.chopped(1);', True),
        'new overload': ('QString::number(1).arg("a", "b", "c", "d", "e", "f", "g", "h", "i", "j");', True),
        'old overload': ('QString::number(1).arg("a", "b", "c");', False),
        'old API': ('QString s = QString::number(5).left(1);', False),
        'new accessor of a new property': ('QHeaderView *h = nullptr; h->setFirstSectionMovable(true);', True),
        'old accessor of a newer property': ('QWindow *w = nullptr; w->setTransientParent(w);', False),
        'guarded': ('#if QT_VERSION >= QT_VERSION_CHECK(5, 10, 0)\nQString s; s = s.chopped(1);\n#endif', False),
        'guarded too low': ('#if QT_VERSION >= QT_VERSION_CHECK(5, 9, 0)\nQString s; s = s.chopped(1);\n#endif', True),
    }
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for name, (code, expect) in cases.items():
            path = os.path.join(folder, 'case.cpp')
            with open(path, 'w') as f:
                f.write('void f()\n{\n' + code + '\n}\n')
            found = bool(scan([path], *tags))
            verdict = 'ok' if found == expect else 'WRONG'
            failures += found != expect
            print(f'self-test {name}: {"flagged" if found else "passed"} ({verdict})')
    return failures == 0


def main(argv):
    if len(argv) >= 2 and argv[0] == '--self-test':
        tags = read_tags(argv[1])
        return 0 if self_test(argv[1], tags) else 1
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    tags = read_tags(argv[0])
    print(f'Qt API newer than 5.9: {len(tags[0])} classes, {len(tags[1])} function names')
    problems = scan(argv[1:], *tags)
    for problem in problems:
        print(problem)
    if problems:
        print(f'{len(problems)} use(s) of Qt API newer than 5.9 without a QT_VERSION guard')
        return 1
    print('No unguarded use of Qt API newer than 5.9')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
