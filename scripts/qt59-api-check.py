#!/usr/bin/env python3
"""Fails when the product's code uses Qt API that Qt 5.9 lacks.

    qt59-api-check.py QTBASE_SOURCE COMPILE_COMMANDS.json... [--expect] PATH...

The ages of Qt's API are the "\\since 5.10" to "\\since 5.15" tags of a qtbase source tree
(QTBASE_SOURCE or the qtbase-* folder in it; exit 77 without one), for enumerators also their
"introduced in 5.N" notes or the changes files. libclang (Debian's python3-clang) parses each
unit of the compilation databases whose source is under a PATH and resolves what the files
under the PATHs name: classes, typedefs, enumerators, macros, functions (the overload chosen,
also as member function pointers). A call of a new overload passes where an older one of its
class takes the arguments. Code that only Qt 5.N compiles may use 5.N's API: a unit whose
#if/#elif test QT_VERSION is parsed for 5.9.0 and each version they turn at, and a use is held
to the oldest one that compiles it. Designer forms under the PATHs are checked for classes,
properties and enumerators. With --expect, each use to flag is marked on its line by a comment
"flagged: NAME[, NAME...]", and the exit status is 1 unless exactly those are flagged.
"""
import glob
import json
import os
import re
import shlex
import sys
import xml.parsers.expat

try:
    from clang import cindex
except ImportError:  # an interpreter of its own (pyenv, a venv) does not see Debian's modules
    sys.path.append('/usr/lib/python3/dist-packages')
    from clang import cindex

SINCE = re.compile(r'\\since\s+(?:Qt\s+)?5\.(\d+)')
TOPIC = re.compile(r'^\s*\\(fn|class|struct|namespace|enum|typedef|typealias|macro|property|'
                   r'variable)\s+(.*)', re.M)
VALUE = re.compile(r'\\(?:omit)?value\s+([\w:]+)')
VALUE_SINCE = re.compile(r'(?:introduced|added) in (?:Qt )?5\.(\d+)|'
                         r'[(\[]since (?:Qt )?5\.(\d+)[)\]]')
CONDITION = re.compile(r'^[ \t]*#[ \t]*(?:el)?if\b(?:.*\\\n)*.*', re.M)
VERSION_TEST = re.compile(r'\bQT_VERSION\s*(>=|>|<=|<)\s*(?:QT_VERSION_CHECK\s*\(\s*(\d+)\s*,'
                          r'\s*(\d+)\s*,\s*(\d+)\s*\)|(0x[0-9a-fA-F]+|\d+))')
OLDEST = 0x050900
FUNCTIONS = {'FUNCTION_DECL', 'CXX_METHOD', 'CONSTRUCTOR', 'FUNCTION_TEMPLATE',
             'CONVERSION_FUNCTION'}
REFERENCES = {'TYPE_REF', 'TEMPLATE_REF', 'NAMESPACE_REF', 'CALL_EXPR', 'DECL_REF_EXPR',
              'MEMBER_REF_EXPR', 'MACRO_INSTANTIATION'}
# Debian's libclang does not find its own headers (stddef.h, ...) by itself.
RESOURCES = ['-resource-dir=' + d for d in glob.glob('/usr/lib/llvm-%s/lib/clang/*' % re.sub(
    r'\D', '', cindex.conf.get_filename()))[-1:]]


class Ages:
    """The minor versions that qtbase's sources give their API, 0 where they give none."""

    def __init__(self):
        self.names = {}  # class, namespace, typedef, enum, macro or variable
        self.functions = {}  # qualified name -> [(parameter key, minor)]
        self.values = {}  # (enum or the scope of its enumerators, enumerator)
        self.properties, self.bases = {}, {}  # (class, property); class -> base class

    def scope(self, qualified):
        """The highest minor of a name and of the classes and namespaces around it."""
        parts = qualified.split('::')
        return max(self.names.get('::'.join(parts[:i]), 0) for i in range(1, len(parts) + 1))


def keep(table, key, minor):
    table[key] = min(table.get(key, minor), minor)


def read(path):
    with open(path, encoding='utf-8', errors='replace') as f:
        return f.read()


def parameter_key(types, owner):
    """Parameter types as the documentation and the headers both spell them: no spacing,
    lvalue references, const of what is passed by value or reference, nor the owner's scope."""
    owner = r'\b' + re.escape(owner.split('::')[-1]) + r'(?:<[^<>]*>)?::' if owner else '^$'
    return tuple(re.sub(owner + r'|\s+|(?<!&)&(?!&)|\b(?:class|struct|enum|typename)\s', '',
                        kind if '*' in kind else re.sub(r'\bconst\b', '', kind)) for kind in types)


def signature(text):
    """(qualified name, parameter types) of a documented function head, or None."""
    head = re.search(r'((?:\w+\s*(?:<[^()]*?>)?\s*::\s*)*~?(?:operator\s*(?:\(\)|[^\s(]+)|\w+))'
                     r'\s*\(', text)
    if not head:
        return None
    depth, parts = 1, ['']
    for ch in text[head.end():]:
        depth += (ch in '(<[{') - (ch in ')>]}')
        if depth == 0:
            break
        parts += [''] if ch == ',' and depth == 1 else []
        parts[-1] += ch if ch != ',' or depth > 1 else ''
    types = []
    for part in (p.split('=')[0].strip() for p in parts):
        name = re.search(r'(?<![\w:])(?!(?:int|char|short|long|double|float|bool|unsigned|'
                         r'signed|const)\b)[A-Za-z_]\w*$', part)  # the parameter's name
        part = part[:name.start()].strip() if name and part[:name.start()].strip() else part
        types += [part] if part not in ('', 'void') else []
    name = re.sub(r'<[^<>]*(?:<[^<>]*>[^<>]*)*>|\s+', '', head.group(1))
    return name, types


def read_changes(qtbase):
    """{class: [(minor, its entries)]} of the changes files of 5.10 to 5.15."""
    sections, folder = {}, os.path.join(qtbase, 'dist')
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        version = re.match(r'changes-5\.(\d+)', name)
        for heading, body in re.findall(r'^ - (.*):\n((?: {3}.*\n|\n)*)', read(
                os.path.join(folder, name)), re.M) if version and int(version.group(1)) > 9 else []:
            for cls in re.findall(r'\bQ\w+', heading):
                sections.setdefault(cls, []).append((int(version.group(1)), body))
    return sections


def namespaces(text):
    """(start, name, end) of the named namespace blocks of C++ code."""
    code = re.sub(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'',
                  lambda m: ' ' * len(m.group(0)), text, flags=re.S)  # offsets kept
    found, stack = [], []
    for token in re.finditer(r'\bnamespace\s+(\w+)\s*\{|[{}]', code):
        if token.group(0) != '}':
            stack.append((token.start(), token.group(1)))
        elif stack:
            start, name = stack.pop()
            found += [(start, name, token.end())] if name else []
    return found


def read_ages(qtbase):
    ages, sections = Ages(), read_changes(qtbase)
    became = {m for entries in sections.values() for _, body in entries
              for m in re.findall(r'(\w+::\w+) is now a property', body)}
    for root, _, files in os.walk(os.path.join(qtbase, 'src')):
        for file in [f for f in files if f.endswith(('.cpp', '.qdoc', '.h', '.mm')) and
                     '3rdparty' not in root]:
            text = read(os.path.join(root, file))
            ages.bases.update(re.findall(r'^\s*class\s+(?:Q_\w+_EXPORT\s+)?(Q\w+)\s*(?:final\s*)?'
                                         r':\s*(?:public\s+)?(Q\w+)', text, re.M))
            spaces = namespaces(text) if re.search(r'namespace\s+\w+\s*\{', text) else []
            for block in re.finditer(r'/\*!(.*?)\*/', text, re.S):
                body, at = block.group(1), block.end()
                since = SINCE.search(body)
                minor = int(since.group(1)) if since else 0
                topics = TOPIC.findall(body)
                heads = read_topics(ages, body, topics, minor, sections)
                # No \fn: the function defined next. The accessor that the comment of a
                # property precedes is as old as the property, or older.
                following = re.sub(r'^(?:\s*#.*\n)*\s*', '', text[at:at + 1000])
                head = following.split('{')[0]
                if not heads and {c for c, _ in topics} <= {'property'} and ';' not in head \
                        and head != following and not following.startswith('/'):
                    heads = [head]
                    minor = 0 if any(t[1].split()[0] in became for t in topics) else minor
                for name, types in filter(None, map(signature, heads)):
                    if '::' not in name:  # in the namespace it is written in
                        name = '::'.join(filter(None, [next(
                            (n for a, n, b in spaces if a < at < b), ''), name]))
                    ages.functions.setdefault(name, []).append(
                        (parameter_key(types, name.rpartition('::')[0]), minor))
    return ages


def read_topics(ages, body, topics, minor, sections):
    """Records the ages of a comment's topics; returns its \\fn signatures."""
    heads = []
    for command, argument in topics:
        name = re.sub(r'<[^<>]*>', '', re.split(r'[\s(]', argument.strip())[0])
        if command == 'fn':
            rest = body[body.index(argument) + len(argument):].split('\n')[1:]
            while argument.count('(') > argument.count(')') and rest:  # goes on over lines
                argument += ' ' + rest.pop(0)
            heads.append(argument)
        elif command == 'property':
            keep(ages.properties, tuple(name.split('::')[-2:]), minor)
        else:
            keep(ages.names, name, minor)
        pieces = VALUE.split(body) if command == 'enum' else []
        for value, about in zip(pieces[1::2], pieces[2::2]):
            scope, value = name.rpartition('::')[0], value.split('::')[-1]
            tag = VALUE_SINCE.search(about.split('\n\n')[0])
            cls = scope.split('::')[-1]
            added = r'\b[Aa]dd(?:ed|s)?\s+(?:(?:the|a|new)\s+)*(?:%s::)?%s\b' % (cls, value)
            own = int(tag.group(1) or tag.group(2)) if tag else next(
                (m for m, text in sections.get(cls, ()) if re.search(added, text)), 0)
            for key in filter(None, (name, scope)):
                keep(ages.values, (key, value), max(minor, own))
    return heads


class Checker:
    """The uses of new Qt API in the product's files, with the oldest Qt version compiling each."""

    def __init__(self, ages, roots):
        self.ages, self.roots, self.index = ages, roots, cindex.Index.create()
        self.uses = {}  # (file, line, name) -> (minor, oldest Qt version compiling the use)
        self.errors, self.paths = set(), {}

    def ours(self, name):
        """Whether a file is under a PATH."""
        if name not in self.paths:
            path = os.path.realpath(name) if name else ''
            self.paths[name] = bool(path) and any(path == r or path.startswith(r + os.sep)
                                                  for r in self.roots)
        return self.paths[name]

    def check(self, entry):
        file, args = entry['file'], entry.get('arguments') or shlex.split(entry['command'])
        flags = [a for a, b in zip(args[1:], args) if b != '-o' and a not in ('-c', '-o', file)]
        flags += ['-w', '-working-directory', entry['directory']] + RESOURCES
        tu = self.parse(os.path.join(entry['directory'], file), flags, [])
        # The product's #if and #elif that test QT_VERSION, and the versions they turn at. The
        # unit is parsed for each, from 5.9.0 on, with QT_VERSION in those tests set to it.
        texts, points = {}, {OLDEST}
        for path in [tu.spelling] + [i.include.name for i in tu.get_includes()
                                     if self.ours(i.include.name)]:
            for op, major, minor, patch, number in VERSION_TEST.findall(
                    '\n'.join(CONDITION.findall(read(path)))):
                texts[path] = read(path)
                points.add((int(major) << 16 | int(minor) << 8 | int(patch) if major else
                            int(number, 0)) + (op in ('>', '<=')))
        for point in sorted(p for p in points if OLDEST <= p < 0x060000) if texts else [OLDEST]:
            if texts:
                tu = self.parse(tu.spelling, flags,
                                [(path, at_version(text, point)) for path, text in texts.items()])
            for cursor in tu.cursor.get_children():
                if cursor.location.file and self.ours(cursor.location.file.name):
                    self.visit(cursor, point, None)

    def parse(self, file, flags, unsaved):
        tu = self.index.parse(file, flags, unsaved,
                              cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD)
        self.errors |= {f'{file}: cannot be parsed: {d}' for d in tu.diagnostics if d.severity >= 3}
        return tu

    def visit(self, cursor, version, allowed):
        found = self.age(cursor.referenced) if cursor.kind.name in REFERENCES else None
        if found and found[1] > 9:
            name, minor, decl = found
            if cursor.kind.name == 'CALL_EXPR' and self.older_fits(cursor, decl):
                allowed = decl  # the callee named below stands for that older overload
            elif allowed is None or decl != allowed:
                key = (os.path.realpath(cursor.location.file.name), cursor.location.line, name)
                self.uses[key] = (minor, min(version, self.uses.get(key, (0, version))[1]))
        for child in cursor.get_children():
            self.visit(child, version, allowed)

    def age(self, decl):
        """(name, minor, declaration) of what a cursor names, or None."""
        if decl is None or decl.location.file is None or self.ours(decl.location.file.name):
            return None
        if decl.kind.name == 'MACRO_DEFINITION':
            return decl.spelling, self.ages.names.get(decl.spelling, 0), decl
        decl = cindex.conf.lib.clang_getSpecializedCursorTemplate(decl) or decl
        name = qualified(decl)
        if decl.kind.name in FUNCTIONS:
            return name, self.function_minor(decl, name), decl
        if decl.kind.name == 'ENUM_CONSTANT_DECL':
            enum = name.rpartition('::')[0]
            shown = name if decl.semantic_parent.is_scoped_enum() else \
                enum.rpartition('::')[0] + '::' + decl.spelling
            return shown.lstrip(':'), max(self.ages.values.get((enum, decl.spelling), 0),
                                          self.ages.scope(enum)), decl
        return (name, self.ages.scope(name), decl) if decl.kind.is_declaration() else None

    def function_minor(self, decl, name):
        owner, documented = name.rpartition('::')[0], self.ages.functions.get(name, [])
        key = parameter_key([p.type.spelling for p in parameters(decl)], owner)
        # Documented with these parameters, const or not: an untagged twin is as new as the
        # tagged one. Not documented so: new where every documented overload is.
        same = [m for k, m in documented if k == key]
        if not same and documented and min(m for _, m in documented) > 9:
            same = [m for _, m in documented]
        return max(min([m for m in same if m] or [0]), self.ages.scope(owner))

    def older_fits(self, call, decl):
        """Whether an overload of the same class that Qt 5.9 has takes the call's arguments."""
        args = [written(a) for a in call.get_arguments()  # not the default arguments
                if a.location.file and self.ours(a.location.file.name)]
        if decl.kind.name == 'CXX_METHOD' and decl.spelling.startswith('operator') and \
                next(call.get_children()).kind.name != 'MEMBER_REF_EXPR':
            args = args[1:]  # an operator's: not the object it is called on
        siblings = [(s, self.function_minor(s, qualified(s)), parameters(s))
                    for s in decl.semantic_parent.get_children()
                    if s.spelling == decl.spelling and s.kind.name in FUNCTIONS]
        for old, minor, params in siblings:
            least = required(params)
            # Where Qt moved the default arguments to a newer overload that agrees with this
            # one on the leading parameters, Qt 5.9 took as few arguments with this one.
            for new, new_minor, lead in siblings:
                if new_minor > 9 and new.is_static_method() == old.is_static_method():
                    least = next((k for k in range(required(lead), least)
                                  if list(map(bare, params[:k])) == list(map(bare, lead[:k]))),
                                 least)
            most = 99 if params and params[-1].type.spelling.endswith('...') else len(params)
            if minor <= 9 and least <= len(args) <= most and (
                    old.kind.name == 'FUNCTION_TEMPLATE' or
                    all(converts(a.type, p.type, True) for a, p in zip(args, params))):
                return True
        return False


def converts(arg, param, user):
    """Whether an argument of type arg initializes a parameter of type param: by a standard
    conversion or, where user, a converting constructor too."""
    arg, param = (t.get_canonical() for t in (arg, param))
    arg, param = (t.get_pointee() if t.kind.name.endswith('VALUEREFERENCE') else t
                  for t in (arg, param))
    if bare(arg) == bare(param):
        return True
    if param.kind.name == 'POINTER':
        target = arg.get_pointee() if arg.kind.name == 'POINTER' else \
            arg.element_type if arg.kind.name.endswith('ARRAY') else None
        return arg.kind.name == 'NULLPTR' or target is not None and \
            bare(param.get_pointee()) in ('void', bare(target))
    if 3 <= param.kind.value <= 23:  # arithmetic, from arithmetic or an unscoped enum
        return 3 <= arg.kind.value <= 23 or arg.kind.name == 'ENUM' and \
            not arg.get_declaration().is_scoped_enum()
    return user and any(converts(arg, parameters(c)[0].type, False)
                        for c in param.get_declaration().get_children()
                        if c.kind.name == 'CONSTRUCTOR' and c.is_converting_constructor())


def at_version(text, version):
    """C++ code with QT_VERSION in its #if and #elif tests set to a version."""
    return CONDITION.sub(lambda m: re.sub(r'\bQT_VERSION\b', hex(version), m.group(0)), text)


def written(expression):
    """An argument as written: without the conversions to the chosen overload's parameter that
    libclang shows around it, over the same source range."""
    inner = list(expression.get_children())
    return written(inner[0]) if len(inner) == 1 and inner[0].extent == expression.extent \
        else expression


def qualified(decl):
    names = []
    while decl is not None and decl.kind.name != 'TRANSLATION_UNIT':
        names, decl = [decl.spelling] + names, decl.semantic_parent
    return '::'.join(n for n in names if n)


def parameters(decl):
    return [c for c in decl.get_children() if c.kind.name == 'PARM_DECL']


def required(params):
    """How many parameters come before the first with a default argument."""
    return next((i for i, p in enumerate(params)
                 if any(c.kind.is_expression() for c in p.get_children())), len(params))


def bare(kind):
    """A type's canonical spelling without const and spacing; of a parameter, its type's."""
    kind = kind.type.get_canonical() if isinstance(kind, cindex.Cursor) else kind
    return re.sub(r'\b(?:const|volatile)\b|\s', '', kind.spelling)


def check_form(path, ages, report):
    """A Designer form: its widget, layout and action classes, their standard properties and
    the enumerators of property values."""
    text, parser, stack, data = read(path), xml.parsers.expat.ParserCreate(), [], []
    extends = dict(re.findall(r'<class>\s*(\w+)\s*</class>\s*<extends>\s*(\w+)\s*</extends>', text))

    def start(tag, attrs):
        # Spacers and the items of item views have the properties of no class.
        cls = {'widget': attrs.get('class'), 'layout': attrs.get('class'), 'action': 'QAction',
               'spacer': '-', 'item': '-', 'column': '-', 'row': '-'}.get(tag)
        report(parser.CurrentLineNumber, cls, ages.names.get(cls, 0))
        owner, name = next((c for c in reversed(stack) if c), '-'), attrs.get('name')
        owner = extends.get(owner, owner)  # a custom widget has the properties it extends
        while owner in ages.bases and (owner, name) not in ages.properties:
            owner = ages.bases[owner]
        if tag == 'property' and attrs.get('stdset') != '0':
            report(parser.CurrentLineNumber, f'{owner}::{name}',
                   ages.properties.get((owner, name), 0))
        stack.append(cls)
        data.clear()

    def end(tag):
        stack.pop()
        for scope, name in re.findall(r'(\w+(?:::\w+)*)::(\w+)', ''.join(data)) \
                if tag in ('enum', 'set') else []:
            report(parser.CurrentLineNumber, f'{scope}::{name}',
                   max(ages.values.get((scope, name), 0), ages.scope(scope)))

    parser.StartElementHandler, parser.EndElementHandler = start, end
    parser.CharacterDataHandler = data.append
    parser.Parse(text.encode('utf-8'), True)


def main(argv):
    expect = '--expect' in argv
    argv = [a for a in argv if a != '--expect']
    databases = [a for a in argv[1:] if a.endswith('.json')]
    roots = [os.path.realpath(a) for a in argv[1:] if a not in databases]
    if not databases or not roots:
        sys.exit(__doc__)
    qtbase = next((p for p in [argv[0]] + sorted(glob.glob(argv[0] + '/qtbase*'))
                   if os.path.isdir(p + '/src/corelib')), None)
    if not qtbase:
        print(f'No qtbase source tree at {argv[0]}: not checked')
        return 77
    ages = read_ages(qtbase)
    checker, units = Checker(ages, roots), set()
    for database in databases:
        for entry in json.loads(read(database)):
            file = os.path.realpath(os.path.join(entry['directory'], entry['file']))
            if checker.ours(file) and (database, file) not in units:
                units.add((database, file))
                checker.check(entry)
    units = {file for _, file in units}
    found = {key: minor for key, (minor, version) in checker.uses.items()
             if minor > version >> 8 & 0xff}
    files = {os.path.join(d, n) for r in roots for d, _, names in os.walk(r) for n in names}
    forms = sorted(f for f in files | set(roots) if f.endswith('.ui'))
    for form in forms:
        check_form(form, ages, lambda line, name, minor: minor > 9 and
                   found.setdefault((form, line, name), minor))
    for problem in sorted(checker.errors) + ['{}:{}: {} is new in Qt 5.{}'.format(*key, minor)
                                             for key, minor in sorted(found.items())]:
        print(problem)
    for file in sorted(f for f in files if f.endswith('.cpp') and f not in units):
        print(f'{file}: not checked, no compile command for it')
    print(f'{len(units)} translation units and {len(forms)} forms checked: {len(found)} uses '
          'of Qt API newer than 5.9 without a QT_VERSION guard')
    if not expect:
        return 1 if checker.errors or found else 0
    marked = {(file, line, name.strip()) for file in files | set(roots)
              if file.endswith(('.cpp', '.h', '.ui'))
              for line, text in enumerate(read(file).split('\n'), 1)
              for names in re.findall(r'flagged: ([\w:, ]+)', text) for name in names.split(',')}
    for file, line, name in sorted(marked ^ set(found)):
        print(f'{file}:{line}: {name} is ' + ('marked, not flagged' if (file, line, name) in marked
                                               else 'flagged, not marked'))
    return 1 if checker.errors or marked != set(found) else 0


if __name__ == '__main__':
    sys.setrecursionlimit(20000)  # deep expressions, as long chains of <<
    sys.exit(main(sys.argv[1:]))
