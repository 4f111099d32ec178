#!/usr/bin/env python3
"""Fails when the product's code uses Qt API that Qt 5.9 lacks.
    qt59-api-check.py QTBASE_SOURCE COMPILE_COMMANDS.json... [--expect] PATH...
QTBASE_SOURCE: a qtbase source tree or a folder with one (exit 77 without). Each compiled unit under
the PATHs is parsed for Qt 5.9.0 and each version its QT_VERSION tests turn at; .ui forms are read.
--expect: exit 1 unless the uses flagged are those with "flagged: NAME[, NAME...]" on their line."""
import functools, glob, json, os, re, shlex, sys, xml.parsers.expat

sys.path.append('/usr/lib/python3/dist-packages')  # for an interpreter of its own (pyenv, venv)
from clang import cindex

SINCE = re.compile(r'\\since\s+(?:Qt\s+)?5\.(\d+)')
TOPIC = re.compile(r'^\s*\\(fn|class|struct|namespace|enum|typedef|typealias|macro|property|'
                   r'variable)\s+(.*)', re.M)
VALUE = re.compile(r'\\(?:omit)?value\s+([\w:]+)(.*?)(?=\\(?:omit)?value\s+[\w:]|\Z)', re.S)
ADDED_IN = re.compile(r'(?:introduc|add)ed in (?:Qt )?5\.(\d+)|[(\[]since (?:Qt )?5\.(\d+)[)\]]')
CONDITION = re.compile(r'^[ \t]*#[ \t]*(?:el)?if\b(?:.*\\\n)*.*', re.M)
VERSION_TEST = re.compile(r'\bQT_VERSION\s*(>=|>|<=|<)\s*(?:QT_VERSION_CHECK\s*\(\s*(\d+)\s*,'
                          r'\s*(\d+)\s*,\s*(\d+)\s*\)|(0x[0-9a-fA-F]+|\d+))')
OLDEST = 0x050900
FUNCTIONS = {*'FUNCTION_DECL CXX_METHOD CONSTRUCTOR FUNCTION_TEMPLATE CONVERSION_FUNCTION'.split()}
REFERENCES = set('TYPE_REF TEMPLATE_REF NAMESPACE_REF CALL_EXPR DECL_REF_EXPR MEMBER_REF_EXPR '
                 'MACRO_INSTANTIATION'.split())
# The classes of Designer's elements; spacers and the items of item views have no properties.
FORM_CLASSES = {'action': 'QAction', 'spacer': '-', 'item': '-', 'column': '-', 'row': '-'}
RESOURCES = ['-resource-dir=' + d for d in glob.glob('/usr/lib/llvm-%s/lib/clang/*' % re.sub(
    r'\D', '', cindex.conf.get_filename()))[-1:]]  # Debian's libclang misses its own stddef.h

def read(path):
    return open(path, encoding='utf-8', errors='replace').read()

class Ages:  # the minor versions that qtbase's sources give their API, 0 where they give none
    def __init__(self, qtbase):
        self.names, self.changes = {}, {}  # class, enum, macro...; class -> [(minor, its entry)]
        self.values, self.properties = {}, {}  # (enum or its scope, enumerator); (class, property)
        self.functions, self.bases = {}, {}  # name -> [(parameter key, minor)]; class -> base
        for path in sorted(glob.glob(os.path.join(qtbase, 'dist', 'changes-5.[1-9][0-9]*'))):
            minor = int(re.match(r'changes-5\.(\d+)', os.path.basename(path)).group(1))
            for heading, body in re.findall(r'^ - (.*):\n((?: {3}.*\n|\n)*)', read(path), re.M):
                for cls in re.findall(r'\bQ\w+', heading):
                    self.changes.setdefault(cls, []).append((minor, body))
        became = {m for entries in self.changes.values() for _, body in entries
                  for m in re.findall(r'(\w+::\w+) is now a property', body)}
        for root, _, files in os.walk(os.path.join(qtbase, 'src')):
            for file in [f for f in files if f.endswith(('.cpp', '.qdoc', '.h', '.mm'))]:
                if '3rdparty' not in root:
                    self.read_source(read(os.path.join(root, file)), became)

    def keep(self, table, key, minor):
        table[key] = min(table.get(key, minor), minor)

    def read_source(self, text, became):
        self.bases.update(re.findall(r'^\s*class\s+(?:Q_\w+_EXPORT\s+)?(Q\w+)\s*(?:final\s*)?'
                                     r':\s*(?:public\s+)?(Q\w+)', text, re.M))
        spaces = namespaces(text) if re.search(r'namespace\s+\w+\s*\{', text) else []
        for block in re.finditer(r'/\*!(.*?)\*/', text, re.S):
            body, at, topics = block.group(1), block.end(), TOPIC.findall(block.group(1))
            minor = int((SINCE.findall(body) or [0])[0])
            heads = list(self.read_topics(body, topics, minor))  # or the function defined next
            following = re.sub(r'^(?:\s*#.*\n)*\s*', '', text[at:at + 1000])
            head = following.split('{')[0]
            if not heads and {c for c, _ in topics} <= {'property'} and ';' not in head \
                    and head != following and not following.startswith('/'):
                heads = [head]  # a property's accessor: as old as the property, or older
                minor = 0 if any(t[1].split()[0] in became for t in topics) else minor
            space = next((n for a, n, b in spaces if a < at < b), '')  # the namespace it is in
            for name, types in filter(None, map(signature, heads)):
                name = f'{space}::{name}' if space and '::' not in name else name
                self.functions.setdefault(name, []).append(
                    (parameter_key(types, name.rpartition('::')[0]), minor))

    def read_topics(self, body, topics, minor):  # records their ages; yields the \fn heads
        for command, argument in topics:
            name = re.sub(r'<[^<>]*>', '', re.split(r'[\s(]', argument.strip())[0])
            if command == 'fn':
                rest = body[body.index(argument) + len(argument):].split('\n')[1:]
                while argument.count('(') > argument.count(')') and rest:  # goes on over lines
                    argument += ' ' + rest.pop(0)
                yield argument
            elif command == 'property':
                self.keep(self.properties, tuple(name.split('::')[-2:]), minor)
            else:
                self.keep(self.names, name, minor)
            for value, about in VALUE.findall(body) if command == 'enum' else []:
                scope, value = name.rpartition('::')[0], value.split('::')[-1]
                tag, cls = ADDED_IN.search(about.split('\n\n')[0]), scope.split('::')[-1]
                added = r'\b[Aa]dd(?:ed|s)?\s+(?:(?:the|a|new)\s+)*(?:%s::)?%s\b' % (cls, value)
                own = int(tag.group(1) or tag.group(2)) if tag else next(
                    (m for m, text in self.changes.get(cls, ()) if re.search(added, text)), 0)
                for key in filter(None, (name, scope)):
                    self.keep(self.values, (key, value), max(minor, own))

    def scope(self, name):  # the highest minor of a name and of the scopes around it
        return max(self.names.get(name.rsplit('::', i)[0], 0) for i in range(name.count('::') + 1))

    def value(self, enum, name):
        return max(self.values.get((enum, name), 0), self.scope(enum))

    def check_form(self, path, found):  # a .ui form's new classes, properties and enumerators
        text, parser, stack, data = read(path), xml.parsers.expat.ParserCreate(), [], []
        extends = dict(re.findall(r'<class>\s*(\w+)\s*</class>\s*<extends>\s*(\w+)\s*</extends>',
                                  text))
        def report(name, minor):
            if minor > 9:
                found.setdefault((path, parser.CurrentLineNumber, name), minor)
        def start(tag, attrs):
            cls = attrs.get('class') if tag in ('widget', 'layout') else FORM_CLASSES.get(tag)
            report(cls, self.names.get(cls, 0))
            owner, name = next((c for c in reversed(stack) if c), '-'), attrs.get('name')
            owner = extends.get(owner, owner)  # a custom widget has the properties it extends
            while owner in self.bases and (owner, name) not in self.properties:
                owner = self.bases[owner]
            if tag == 'property' and attrs.get('stdset') != '0':
                report(f'{owner}::{name}', self.properties.get((owner, name), 0))
            stack.append(cls)
            data.clear()
        def end(tag):
            stack.pop()
            for scope, name in re.findall(r'(\w+(?:::\w+)*)::(\w+)', ''.join(data)) \
                    if tag in ('enum', 'set') else []:
                report(f'{scope}::{name}', self.value(scope, name))
        parser.StartElementHandler, parser.EndElementHandler = start, end
        parser.CharacterDataHandler = data.append
        parser.Parse(text.encode('utf-8'), True)

def namespaces(text):  # (start, name, end) of the named namespace blocks of C++ code
    code = re.sub(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'',
                  lambda m: ' ' * len(m.group(0)), text, flags=re.S)  # offsets kept
    found, stack = [], []
    for token in re.finditer(r'\bnamespace\s+(\w+)\s*\{|[{}]', code):
        if token.group(0) != '}':
            stack.append((token.start(), token.group(1)))
        elif stack:
            found.append(stack.pop() + (token.end(),))
    return [block for block in found if block[1]]

def signature(text):  # (qualified name, parameter types) of a documented function head, or None
    head = re.search(r'((?:\w+\s*(?:<[^()]*?>)?\s*::\s*)*~?(?:operator\s*(?:\(\)|[^\s(]+)|\w+))'
                     r'\s*\(', text)
    if head:
        depth, inner, types = 1, '', []
        for ch in text[head.end():]:
            depth += (ch in '(<[{') - (ch in ')>]}')
            if depth == 0:
                break
            inner += '\0' if ch == ',' and depth == 1 else ch
        for part in (p.split('=')[0].strip() for p in inner.split('\0')):
            part = re.sub(r'(?<=\S)\s*(?<![\w:])(?!(?:int|char|short|long|double|float|bool|'
                          r'unsigned|signed|const)\b)[A-Za-z_]\w*$', '', part)  # the name dropped
            types += [part] if part not in ('', 'void') else []
        return re.sub(r'<[^<>]*(?:<[^<>]*>[^<>]*)*>|\s+', '', head.group(1)), types

def parameter_key(types, owner):  # as docs and headers both spell them: no spaces, &, const, owner
    owner = r'\b' + re.escape(owner.split('::')[-1]) + r'(?:<[^<>]*>)?::' if owner else '^$'
    return tuple(re.sub(owner + r'|\s+|(?<!&)&(?!&)|\b(?:class|struct|enum|typename)\s', '',
                        kind if '*' in kind else re.sub(r'\bconst\b', '', kind)) for kind in types)

class Checker:  # the uses of new Qt API in the product's files, with the oldest Qt compiling each
    def __init__(self, ages, roots):
        self.ages, self.roots, self.index = ages, roots, cindex.Index.create()
        self.uses, self.errors = {}, set()  # (file, line, name) -> (minor, oldest Qt compiling it)

    @functools.cache
    def ours(self, name):  # whether a file is under a PATH
        path = os.path.realpath(name) + os.sep if name else ''
        return any(path.startswith(r + os.sep) for r in self.roots)

    def check(self, entry):
        file, args = entry['file'], entry.get('arguments') or shlex.split(entry['command'])
        flags = [a for a, b in zip(args[1:], args) if b != '-o' and a not in ('-c', '-o', file)]
        flags += ['-w', '-working-directory', entry['directory']] + RESOURCES
        tu = self.parse(os.path.join(entry['directory'], file), flags, [])
        texts, points = {}, {OLDEST}  # parsed for each version its QT_VERSION tests turn at
        for path in [tu.spelling] + [i.include.name for i in tu.get_includes()
                                     if self.ours(i.include.name)]:
            text = read(path)
            for op, major, minor, patch, number in VERSION_TEST.findall(
                    '\n'.join(CONDITION.findall(text))):
                texts[path] = text
                points.add((int(major) << 16 | int(minor) << 8 | int(patch) if major else
                            int(number, 0)) + (op in ('>', '<=')))
        for point in sorted(p for p in points if OLDEST <= p < 0x060000):
            if texts:
                tu = self.parse(tu.spelling, flags, [(path, CONDITION.sub(lambda m: re.sub(
                    r'\bQT_VERSION\b', hex(point), m.group(0)), text))
                    for path, text in texts.items()])
            for cursor in tu.cursor.get_children():
                if cursor.location.file and self.ours(cursor.location.file.name):
                    self.visit(cursor, point, None)

    def parse(self, file, flags, unsaved):
        tu = self.index.parse(file, flags, unsaved,
                              cindex.TranslationUnit.PARSE_DETAILED_PROCESSING_RECORD)
        self.errors |= {f'{file}: cannot be parsed: {d}' for d in tu.diagnostics if d.severity >= 3}
        return tu

    def visit(self, cursor, version, allowed):
        name, minor, decl = self.age(cursor.referenced if cursor.kind.name in REFERENCES else None)
        if minor > 9:
            if cursor.kind.name == 'CALL_EXPR' and self.older_fits(cursor, decl):
                allowed = decl  # the callee named below stands for that older overload
            elif allowed is None or decl != allowed:
                key = (os.path.realpath(cursor.location.file.name), cursor.location.line, name)
                self.uses[key] = (minor, min(version, self.uses.get(key, (0, version))[1]))
        for child in cursor.get_children():
            self.visit(child, version, allowed)

    def age(self, decl):  # (name, minor, declaration) of what a cursor names
        if decl is None or decl.location.file is None or self.ours(decl.location.file.name):
            return None, 0, None
        if decl.kind.name == 'MACRO_DEFINITION':
            return decl.spelling, self.ages.names.get(decl.spelling, 0), decl
        decl = cindex.conf.lib.clang_getSpecializedCursorTemplate(decl) or decl
        name = qualified(decl)
        if decl.kind.name in FUNCTIONS:
            return name, self.function_minor(decl), decl
        if decl.kind.name == 'ENUM_CONSTANT_DECL':
            enum = name.rpartition('::')[0]
            shown = name if decl.semantic_parent.is_scoped_enum() else \
                enum.rpartition('::')[0] + '::' + decl.spelling
            return shown.lstrip(':'), self.ages.value(enum, decl.spelling), decl
        return name, self.ages.scope(name) if decl.kind.is_declaration() else 0, decl

    def function_minor(self, decl):
        name = qualified(decl)
        owner, documented = name.rpartition('::')[0], self.ages.functions.get(name, [])
        key = parameter_key([p.type.spelling for p in parameters(decl)], owner)
        every = [m for _, m in documented]  # as new as its twins (const or not), else all if new
        same = [m for k, m in documented if k == key] or [m for m in every if min(every) > 9]
        return max(min([m for m in same if m] or [0]), self.ages.scope(owner))

    def older_fits(self, call, decl):  # whether an overload that Qt 5.9 has takes the arguments
        args = [written(a) for a in call.get_arguments()  # not the default arguments
                if a.location.file and self.ours(a.location.file.name)]
        if decl.kind.name == 'CXX_METHOD' and decl.spelling.startswith('operator') and \
                next(call.get_children()).kind.name != 'MEMBER_REF_EXPR':
            args = args[1:]  # an operator's: not the object it is called on
        siblings = [(s, self.function_minor(s), parameters(s))
                    for s in decl.semantic_parent.get_children()
                    if s.spelling == decl.spelling and s.kind.name in FUNCTIONS]
        for old, minor, params in siblings:
            least = required(params)  # fewer where Qt moved its defaults to a newer overload
            for new, new_minor, lead in siblings:
                if new_minor > 9 and new.is_static_method() == old.is_static_method():
                    least = next((k for k in range(required(lead), least) if list(
                        map(bare, params[:k])) == list(map(bare, lead[:k]))), least)
            most = 99 if params and params[-1].type.spelling.endswith('...') else len(params)
            if minor <= 9 and least <= len(args) <= most and (
                    old.kind.name == 'FUNCTION_TEMPLATE' or
                    all(converts(a.type, p.type, True) for a, p in zip(args, params))):
                return True
        return False

def converts(arg, param, user):  # whether type arg passes for param (if user, by constructor too)
    arg, param = (t.get_pointee() if t.kind.name.endswith('VALUEREFERENCE') else t
                  for t in (arg.get_canonical(), param.get_canonical()))
    same = bare(arg) == bare(param)
    if param.kind.name == 'POINTER':
        target = arg.get_pointee() if arg.kind.name == 'POINTER' else \
            arg.element_type if arg.kind.name.endswith('ARRAY') else None
        return same or arg.kind.name == 'NULLPTR' or target is not None and \
            bare(param.get_pointee()) in ('void', bare(target))
    if 3 <= param.kind.value <= 23:  # arithmetic, from arithmetic or an unscoped enum
        return same or 3 <= arg.kind.value <= 23 or arg.kind.name == 'ENUM' and \
            not arg.get_declaration().is_scoped_enum()
    return same or user and any(converts(arg, parameters(c)[0].type, False)
                                for c in param.get_declaration().get_children()
                                if c.kind.name == 'CONSTRUCTOR' and c.is_converting_constructor())

def written(arg):  # an argument without the conversions that libclang shows over its range
    inner = list(arg.get_children())
    return written(inner[0]) if len(inner) == 1 and inner[0].extent == arg.extent else arg

def qualified(decl):
    return '' if decl is None or decl.kind.name == 'TRANSLATION_UNIT' else '::'.join(
        filter(None, (qualified(decl.semantic_parent), decl.spelling)))

def parameters(decl):
    return [c for c in decl.get_children() if c.kind.name == 'PARM_DECL']

def required(params):  # how many parameters come before the first with a default argument
    return next((i for i, p in enumerate(params)
                 if any(c.kind.is_expression() for c in p.get_children())), len(params))

def bare(kind):  # a type's canonical spelling without const and spacing; of a parameter, its type's
    kind = kind.type.get_canonical() if isinstance(kind, cindex.Cursor) else kind
    return re.sub(r'\b(?:const|volatile)\b|\s', '', kind.spelling)

def main(argv):
    expect, argv = '--expect' in argv, [a for a in argv if a != '--expect']
    databases = [a for a in argv[1:] if a.endswith('.json')]
    roots = [os.path.realpath(a) for a in argv[1:] if a not in databases]
    if not databases or not roots:
        sys.exit(__doc__)
    qtbase = next((p for p in [argv[0]] + sorted(glob.glob(argv[0] + '/qtbase*'))
                   if os.path.isdir(p + '/src/corelib')), None)
    if not qtbase:
        print(f'No qtbase source tree at {argv[0]}: not checked')
        return 77
    checker, units = Checker(Ages(qtbase), roots), {}  # file -> its databases
    for database in databases:
        for entry in json.loads(read(database)):
            file = os.path.realpath(os.path.join(entry['directory'], entry['file']))
            if checker.ours(file) and database not in units.setdefault(file, set()):
                units[file].add(database)
                checker.check(entry)
    found = {k: m for k, (m, version) in checker.uses.items() if m > version >> 8 & 0xff}
    files = {os.path.join(d, n) for r in roots for d, _, names in os.walk(r) for n in names}
    forms = sorted(f for f in files | set(roots) if f.endswith('.ui'))
    for form in forms:
        checker.ages.check_form(form, found)
    for problem in sorted(checker.errors) + ['{}:{}: {} is new in Qt 5.{}'.format(*key, minor)
                                             for key, minor in sorted(found.items())]:
        print(problem)
    for file in sorted(f for f in files if f.endswith('.cpp') and f not in units):
        print(f'{file}: not checked, no compile command for it')
    print(f'{len(units)} translation units and {len(forms)} forms checked: {len(found)} uses '
          'of Qt API newer than 5.9 without a QT_VERSION guard')
    marked = {(file, line, name.strip()) for file in files | set(roots)
              if expect and file.endswith(('.cpp', '.h', '.ui'))
              for line, text in enumerate(read(file).split('\n'), 1)
              for names in re.findall(r'flagged: ([\w:, ]+)', text) for name in names.split(',')}
    for key in sorted(marked ^ set(found)) if expect else []:
        print('{}:{}: {} is '.format(*key) + ('marked, not flagged' if key in marked
                                              else 'flagged, not marked'))
    return 1 if checker.errors or marked != set(found) else 0

if __name__ == '__main__':
    sys.setrecursionlimit(20000)  # deep expressions, as long chains of <<
    sys.exit(main(sys.argv[1:]))
