#!/usr/bin/env python3
"""Fails when the product's code uses Qt API introduced after Qt 5.9.

Reads the ages of Qt's API from a qtbase source tree: the "\\since 5.10" to "\\since 5.15" tags
of its documentation comments (classes, functions, typedefs, enums, properties; enumerators by
their own "introduced in 5.N" notes or, where the documentation has none, the entries of the
changes files that add them), and the base classes and default arguments in its headers; an
untagged overload that differs from a tagged one only by const or references is as new as it.
Then looks at every use in the product's sources and Designer forms (app, engine, ui, cloud,
tools):

- a new class, namespace or global typedef by its name; a new enumerator or nested typedef by
  its qualified name (Qt::SkipEmptyParts, QNetworkRequest::AutoDeleteReplyOnFinishAttribute);
- a member function pointer (&QNetworkReply::errorOccurred) whose class and its bases have
  only new functions of that name; a function of a Qt namespace that has only new functions
  of that name, called or not (ts << Qt::endl);
- a call (not the declaration of a function of the same name), where it cannot be an older
  overload: looked up in the class of its receiver where that is known (a variable declared
  with a Qt class type, a temporary QClass(...), or Class::name; none for std::), and
  matched by the number, default arguments counted, and, as far as the call's text tells (a
  pointer, a literal, an enumerator), the types of its arguments;
- in a .ui file, new widget and layout classes, new standard properties of the widget's
  class or its bases, and new enumerators in property values.

Uses that only Qt 5.N or later compiles (N at least the version that introduced them) are
allowed: inside "#if QT_VERSION >= QT_VERSION_CHECK(5, N, 0)" (or 0x05NN00, also as one term
of an &&), in the #else of "#if QT_VERSION < QT_VERSION_CHECK(5, N, 0)", and in an #elif
after such conditions. QTBASE_SOURCE_DIR may also be a folder holding one qtbase-* tree; exit
status 77 when there is none.

    qt59-api-check.py QTBASE_SOURCE_DIR PRODUCT_DIR...
    qt59-api-check.py --self-test QTBASE_SOURCE_DIR
"""
import collections
import os
import re
import sys
import tempfile
import xml.parsers.expat

SINCE = re.compile(r'\\since\s+(?:Qt\s+)?5\.(\d+)')
COMMENT = re.compile(r'/\*!(.*?)\*/', re.S)
CLASS = re.compile(r'\\class\s+([A-Za-z_][\w:]*)')
NAMESPACE = re.compile(r'\\namespace\s+([A-Za-z_]\w*)\s*$', re.M)
FN = re.compile(r'\\fn\s+(.*)')
IDENT = r'[A-Za-z_]\w*'


# lo, hi: the fewest and most arguments; static: whether declared so, None where not found.
# signature: the exact parameter types and whether a const member, to tell twins apart.
Overload = collections.namedtuple('Overload',
                                  'qualified owner params lo hi minor static signature')

ENUM = re.compile(r'\\enum\s+([A-Za-z_][\w:]*)')
VALUE = re.compile(r'\\(?:omit)?value\s+([A-Za-z_][\w:]*)')
VALUE_SINCE = re.compile(r'(?:introduced|added) in (?:Qt )?5\.(\d+)'
                         r'|[(\[]since (?:Qt )?5\.(\d+)[)\]]')
TYPEDEF = re.compile(r'\\(?:typedef|typealias)\s+([A-Za-z_][\w:]*)')
PROPERTY = re.compile(r'\\property\s+([A-Za-z_]\w*)::(\w+)')
BASE = re.compile(r'^\s*class\s+(?:Q_\w+_EXPORT\s+)?(Q\w+)\s*(?:final\s*)?:\s*(?:public\s+)?(Q\w+)',
                  re.M)
FLAGS = re.compile(r'Q_DECLARE_FLAGS\s*\(\s*(\w+)\s*,\s*(\w+)\s*\)')
ADDED = re.compile(r'\b(?:[Aa]dd(?:ed|s)?|[Ii]ntroduced|[Nn]ew)\b')
ADDED_STOP = re.compile(r'\b(?:as|of|for|to|with|in|from|on|by|instead|replac\w*|when|which|that|'
                        r'so|support)\b|[(.;,]|(?<!:):(?!:)')


class Tags:
    """What Qt's sources say about the age of their API."""

    def __init__(self):
        self.classes = {}  # new class or namespace (short name) -> minor
        self.known_classes = set()  # every documented class, old and new
        self.namespaces = set()  # documented namespaces (Qt, QtConcurrent, ...)
        self.types = {}  # new typedef, global name or (scope, name) -> minor
        self.functions = {}  # short name -> [Overload], old and new
        self.values = {}  # (scope, enumerator) -> [(qualified enum, minor)], old and new
        self.enums = set()  # qualified enum names
        self.flags = {}  # flags type -> enum names it is declared for
        self.properties = {}  # (class, property) -> minor, old and new
        self.bases = {}  # class -> base class

    def chain(self, cls):
        """The class and its base classes."""
        out = []
        while cls and cls not in out:
            out.append(cls)
            cls = self.bases.get(cls)
        return out

    def resolve_enum(self, name, owner):
        """The qualified enums a parameter type names (an enum or its flags), or None."""
        scopes = [name.rsplit('::', 1)[0]] if '::' in name else self.chain(owner)
        short = name.rsplit('::', 1)[-1]
        for scope in scopes:
            found = {f'{scope}::{e}' for e in [short] + sorted(self.flags.get(short, ()))}
            found &= self.enums
            if found:
                return found
        return None


def parameter_types(params):
    """The types of a parameter list, without names and default values."""
    return [t for t, _ in parameters(params)]


def parameters(params):
    """(type, has a default value) of each parameter of a parameter list."""
    params = params.strip()
    if params in ('', 'void'):
        return []
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
    types = []
    for part in parts:
        has_default = '=' in part
        part = part.split('=')[0].strip()
        tokens = re.findall(r'[\w:]+|[^\w\s]', part)
        if len(tokens) > 1 and re.fullmatch(IDENT, tokens[-1]) and tokens[-1] not in BUILTIN:
            part = part[:part.rindex(tokens[-1])].strip()
        types.append((part, has_default))
    return types


def least_arguments(params):
    """How many arguments a call must pass at least: those before the first default value, a
    trailing C vararg or parameter pack taking none."""
    lo = 0
    for i, (kind, has_default) in enumerate(params):
        if has_default or (kind.endswith('...') and i == len(params) - 1):
            break
        lo += 1
    return lo


def types_key(types, owner):
    """A parameter list as twins and redeclarations of a member of owner share it: without
    spacing, the owner's scope, lvalue references and the const of what is passed by value or
    reference (a pointer to const, an rvalue reference is another overload)."""
    key = []
    for kind in types:
        kind = re.sub(r'\s|(?<!&)&(?!&)', '',
                      kind if '*' in kind else re.sub(r'\bconst\b', '', kind))
        key.append(kind.replace(owner + '::', '') if owner else kind)
    return tuple(key)


def bare_types(types):
    """Parameter types without const, references, spacing and scopes."""
    return [re.sub(r'\bconst\b|&|\s|\b\w+::', '', t) for t in types]


BLANKED = re.compile(r'//[^\n]*|/\*.*?(?:\*/|\Z)|"(?:\\.|[^"\\\n])*"?|\'(?:\\.|[^\'\\\n])*\'?'
                     r'|^[ \t]*#(?:[^\n]*\\\n)*[^\n]*', re.S | re.M)


def blank_comments_and_strings(text):
    """text with comments, string and character literals and preprocessor lines replaced by
    spaces, newlines kept, so that offsets stay those of text."""
    return BLANKED.sub(lambda m: re.sub(r'[^\n]', ' ', m.group(0)) if '\n' in m.group(0)
                       else ' ' * len(m.group(0)), text)


CLASS_HEAD = re.compile(r'\b(?:class|struct|union)\s+(?:[A-Z][A-Z0-9_]*(?:\([^()]*\))?\s+)*'
                        r'(' + IDENT + r')\s*(?:final\s*)?(?::[^;]*)?$')
NAMESPACE_HEAD = re.compile(r'\bnamespace\s*(' + IDENT + r')?\s*$')
DECLARED = re.compile(r'(~?' + IDENT + r')\s*\(')
SCOPE_BEFORE = re.compile(r'(' + IDENT + r')\s*::\s*$')


def scoped_declarations(text, names):
    """(innermost class or namespace, the function's name, parameter list, whether static) of
    the declarations and definitions of functions of these names in C++ code, function bodies
    left out."""
    code = blank_comments_and_strings(text)
    scopes = []  # names of the enclosing classes and namespaces, '' for unnamed ones
    found = []
    depth, start, body = 0, 0, 0  # parentheses, statement start, depth in a function body

    def declare(statement):
        if '(' not in statement:
            return
        for match in DECLARED.finditer(statement):
            if match.group(1) not in names:
                continue
            params = call_arguments(statement, match.end() - 1)
            if params is None:
                continue
            scope = SCOPE_BEFORE.search(statement, 0, match.start())
            owner = scope.group(1) if scope else next((n for n in reversed(scopes) if n), '')
            static = bool(re.search(r'\bstatic\b', statement[:match.start()]))
            found.append((owner, match.group(1), ','.join(params), static))

    for token in re.finditer(r'[(){};]', code):
        ch, i = token.group(0), token.start()
        if body:
            body += {'{': 1, '}': -1}.get(ch, 0)
            start = i + 1
        elif ch == '(':
            depth += 1
        elif ch == ')':
            depth = max(depth - 1, 0)
        elif depth:
            continue
        elif ch == ';':
            declare(code[start:i])
            start = i + 1
        elif ch == '{':
            statement = code[start:i]
            head = re.search(r'\b(?:class|struct|union)\b', statement) and \
                CLASS_HEAD.search(statement)
            space = 'namespace' in statement and NAMESPACE_HEAD.search(statement)
            if head:
                scopes.append(head.group(1))
            elif space:
                scopes.append(space.group(1) or '')
            elif re.search(r'\bextern\s*$', statement):
                scopes.append('')
            else:
                if '(' in statement:
                    declare(statement)
                body = 1
            start = i + 1
        elif ch == '}':
            if scopes:
                scopes.pop()
            start = i + 1
    return found


BUILTIN = {'int', 'char', 'short', 'long', 'double', 'float', 'bool', 'unsigned', 'signed'}


def read_changes(qt_source):
    """{(class, name): minor} of names that the changes files of 5.10 and later list, in the
    class's section, in an entry that adds something (names that those of 5.9 and older
    mention left out), and the set of (class, name) that became properties of existing
    accessors. Enumerators are often added without a \\since tag; this is where their age is
    written down."""
    added, older, now_properties = {}, set(), set()
    folder = os.path.join(qt_source, 'dist')
    names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    for name in names:
        version = re.match(r'changes-(\d+)\.(\d+)', name)
        if not version:
            continue
        with open(os.path.join(folder, name), encoding='utf-8', errors='replace') as f:
            text = f.read()
        major, minor = int(version.group(1)), int(version.group(2))
        if (major, minor) <= (5, 9):
            older.update(re.findall(r'\w+', text))
            continue
        if major != 5:
            continue
        now_properties.update(re.findall(r'(Q\w+)::(\w+) is now a property', text))
        section, entry = set(), None

        def flush(entry):
            # Only what an entry adds: "Added X and Y to Z", not Z, nor what follows "for",
            # "as a replacement of", ...
            for verb in ADDED.finditer(entry or ''):
                added_part = ADDED_STOP.split(entry[verb.end():], 1)[0]
                for word in set(re.findall(IDENT, added_part)):
                    for cls in section:
                        added[(cls, word)] = min(added.get((cls, word), 99), minor)

        for line in text.split('\n'):
            heading = re.match(r' - (.*):\s*$', line)
            if heading:
                flush(entry)
                section, entry = set(re.findall(r'\bQ\w+', heading.group(1))), None
            elif line.startswith('   * '):
                flush(entry)
                entry = line
            elif entry is not None and line.startswith('     '):
                entry += line
            else:
                flush(entry)
                entry = None
        flush(entry)
    return {key: minor for key, minor in added.items() if key[1] not in older}, now_properties


def read_tags(qt_source):
    tags = Tags()
    changes, now_properties = read_changes(qt_source)
    documented = []  # (qualified, short, params, whether a const member, minor)
    enum_blocks = []  # (qualified enum, minor, body)
    headers = []
    for root, _, files in os.walk(os.path.join(qt_source, 'src')):
        if '3rdparty' in root:
            continue
        for name in files:
            if not name.endswith(('.cpp', '.qdoc', '.h', '.mm')):
                continue
            with open(os.path.join(root, name), encoding='utf-8', errors='replace') as f:
                text = f.read()
            if name.endswith('.h'):
                for derived, base in BASE.findall(text):
                    tags.bases.setdefault(derived, base)
                for flags, enum in FLAGS.findall(text):
                    tags.flags.setdefault(flags, set()).add(enum)
                headers.append(text)
            spaces = namespaces(text) if re.search(r'namespace\s+\w+\s*\{', text) else []
            for block in COMMENT.finditer(text):
                body = block.group(1)
                since = SINCE.search(body)
                minor = int(since.group(1)) if since else 0
                cls = CLASS.search(body) or NAMESPACE.search(body)
                if cls:
                    short_name = cls.group(1).split('::')[-1]
                    if cls.re is NAMESPACE:
                        tags.namespaces.add(short_name)
                    else:
                        tags.known_classes.add(short_name)
                    if minor > 9:
                        tags.classes[short_name] = minor
                    continue
                enum = ENUM.search(body)
                if enum:
                    tags.enums.add(enum.group(1))
                    enum_blocks.append((enum.group(1), minor, body))
                typedef = TYPEDEF.search(body)
                if typedef:
                    if minor > 9:
                        qualified = typedef.group(1)
                        key = tuple(qualified.rsplit('::', 1)) if '::' in qualified else qualified
                        tags.types[key] = minor
                prop = PROPERTY.search(body)
                if prop:
                    tags.properties[(prop.group(1), prop.group(2))] = minor
                    if (prop.group(1), prop.group(2)) in now_properties:
                        minor = 0  # the accessors that follow are older than the property
                fns = [fn_signature(body, m) for m in FN.finditer(body)]
                space = ''
                if not fns:
                    # Undocumented \fn: the definition that follows the comment, in the
                    # namespace it is written in.
                    following = definition_after(text, block.end())
                    fns = [following] if '(' in following else []
                    space = next((n for a, b, n in spaces if a < block.start() < b), '')
                for fn in fns:
                    parsed = parse_signature(fn)
                    if parsed:
                        qualified, short, params, const = parsed
                        if space and '::' not in qualified:
                            qualified = f'{space}::{qualified}'
                        documented.append((qualified, short, params, const, minor))
    # Default arguments are written in the declarations only, which documentation and
    # definitions often leave out: the fewest arguments a call may pass come from the headers'
    # declarations, or, where none is found, are none. Only names with new overloads matter.
    names = {short for qualified, short, _, _, minor in documented
             if max(minor, tags.classes.get(qualified.split('::')[-2] if '::' in qualified
                                            else '', 0)) > 9}
    least = {}  # (owner, name, types_key) -> (fewest arguments, static)
    for text in headers:
        for owner, short, params, static in scoped_declarations(text, names):
            declared = parameters(params)
            key = (owner, short, types_key([t for t, _ in declared], owner))
            lo = least_arguments(declared)
            least[key] = min(least.get(key, (lo, static)), (lo, static))
    # Members of a new class are as new as their class, tagged or not.
    for qualified, short, params, const, minor in documented:
        owner = qualified.split('::')[-2] if '::' in qualified else ''
        minor = max(minor, tags.classes.get(owner, 0))
        signature = (tuple(re.sub(r'\s', '', t) for t in parameter_types(params)), const)
        types = parameter_types(params)
        lo, static = least.get((owner, short, types_key(types, owner)), (0, None))
        lo = min(lo, least_arguments(parameters(params)))
        # C varargs and parameter packs take any number of further arguments.
        hi = 99 if types and types[-1].endswith('...') else len(types)
        tags.functions.setdefault(short, []).append(
            Overload(qualified, owner, types, lo, hi, minor, static, signature))
    # Qt drops an old overload's default arguments when a newer one of the same kind (static or
    # not) that agrees with it on the leading parameters takes them over: split(QChar,
    # QString::SplitBehavior = ...) lost its default to split(QChar, Qt::SplitBehavior = ...)
    # in 5.15, wait(unsigned long = ULONG_MAX) to wait(QDeadlineTimer = ...). The old one may
    # be called with as few arguments as the two agree on.
    for overloads in tags.functions.values():
        for i, old in enumerate(overloads):
            if old.minor > 9:
                continue
            for new in overloads:
                if new.minor <= 9 or new.owner != old.owner or \
                        None not in (old.static, new.static) and old.static != new.static:
                    continue
                for k in range(new.lo, old.lo):
                    if bare_types(old.params[:k]) == bare_types(new.params[:k]):
                        old = overloads[i] = old._replace(lo=k)
                        break
    # An overload without a \since tag of its own (a non-const twin kept for binary
    # compatibility, say) is as new as its documented twin: same class, name and parameters up
    # to const and references. The same signature documented twice is one function, as old as
    # its older tag says.
    for overloads in tags.functions.values():
        twins = {}
        for o in overloads:
            if o.minor > 9:
                key = (o.owner, types_key(o.params, o.owner))
                twins.setdefault(key, {})
                twins[key][o.signature] = min(twins[key].get(o.signature, 99), o.minor)
        for i, o in enumerate(overloads):
            tagged = twins.get((o.owner, types_key(o.params, o.owner)), {})
            if not o.minor and tagged and o.signature not in tagged:
                overloads[i] = o._replace(minor=min(tagged.values()))
    for enum, minor, body in enum_blocks:
        scope = enum.rsplit('::', 1)[0] if '::' in enum else ''
        owner_minor = max(minor, tags.classes.get(scope.split('::')[-1], 0))
        pieces = VALUE.split(body)
        for value, description in zip(pieces[1::2], pieces[2::2]):
            value = value.split('::')[-1]
            tagged = VALUE_SINCE.search(description.split('\n\n')[0])
            value_minor = int(tagged.group(1) or tagged.group(2)) if tagged else 0
            if not value_minor and scope:
                value_minor = changes.get((scope.split('::')[-1], value), 0)
            entry = (enum, max(owner_minor, value_minor))
            for key_scope in filter(None, (scope, enum)):
                tags.values.setdefault((key_scope, value), []).append(entry)
    return tags


def fn_signature(body, match):
    """The signature of an \\fn command, with the lines its parameter list goes on over."""
    signature = match.group(1)
    rest = body[match.end():].split('\n')[1:]
    while signature.count('(') > signature.count(')') and rest:
        signature += ' ' + rest.pop(0).strip()
    return signature


def definition_after(text, end):
    """The head of the function definition that follows a documentation comment ending at
    text[end] (preprocessor lines between them skipped), or ''. Not another comment, nor a
    declaration or statement."""
    following = text[end:end + 1000]
    following = re.sub(r'^(?:\s*#[^\n]*\n)*\s*', '', following)
    head = following.split('{')[0]
    if following.startswith('/') or ';' in head or head == following:
        return ''
    return head


def namespaces(text):
    """(start, end, name) of the named namespace blocks of C++ code."""
    code = blank_comments_and_strings(text)
    found, stack = [], []
    for token in re.finditer(r'\bnamespace\s+(' + IDENT + r')\s*\{|[{}]', code):
        if token.group(0) == '}':
            if stack:
                start, name = stack.pop()
                if name:
                    found.append((start, token.end(), name))
        else:
            stack.append((token.start(), token.group(1)))
    return found


def parse_signature(signature):
    """(qualified name, short name, parameter list, whether a const member) of a function
    signature, or None."""
    signature = signature.split('{')[0].strip()
    # A member of a class template: QScopedPointer<T, Cleanup>::take().
    arguments = r'(?:\s*<[^<>()]*(?:<[^<>()]*>[^<>()]*)*>\s*)?'
    match = re.search(r'((?:' + IDENT + arguments + r'::)*~?(?:operator\s*\S+?|' + IDENT +
                      r'))\s*\((.*)\)', signature, re.S)
    if not match:
        return None
    qualified = re.sub(r'<[^<>]*(?:<[^<>]*>[^<>]*)*>|\s+', '', match.group(1))
    params = match.group(2)
    # Drop what follows the parameter list (const, noexcept, ...).
    depth, after = 0, signature[match.end():]
    for i, ch in enumerate(params):
        if ch == '(':
            depth += 1
        elif ch == ')':
            if depth == 0:
                params, after = params[:i], params[i + 1:] + ')' + after
                break
            depth -= 1
    short = qualified.split('::')[-1]
    return qualified, short, params, bool(re.match(r'\s*const\b', after))


DIRECTIVE = re.compile(r'#\s*(if|ifdef|ifndef|elif|else|endif)\b(.*)')
VERSION_TEST = re.compile(r'QT_VERSION\s*(>=|>|<=|<)\s*'
                          r'(?:QT_VERSION_CHECK\s*\(\s*(\d+)\s*,\s*(\d+)\s*,\s*\d+\s*\)'
                          r'|0x0*([0-9a-fA-F]{1,2})([0-9a-fA-F]{2})[0-9a-fA-F]{2}\b)')


def unparenthesized(text):
    """text without spacing and the parentheses around all of it."""
    text = text.strip()
    while text.startswith('(') and call_arguments(text, 0) == [text[1:-1].strip()]:
        text = text[1:-1].strip()
    return text


def version_bounds(condition):
    """(minor the condition being true implies at least, minor its being false implies at
    least) of an #if or #elif condition; 0 where it tells nothing. Qt 6 counts as 5.99."""
    condition = unparenthesized(re.sub(r'//.*|/\*.*?\*/', '', condition))
    if '||' in condition:
        return 0, 0
    terms = condition.split('&&')
    when_true, when_false = 0, 0
    for term in terms:
        test = VERSION_TEST.fullmatch(unparenthesized(term))
        if not test:
            continue
        if test.group(2):
            major, minor = int(test.group(2)), int(test.group(3))
        else:
            major, minor = int(test.group(4), 16), int(test.group(5), 16)
        minor = 0 if major < 5 else 99 if major > 5 else minor
        if test.group(1) in ('>=', '>'):
            when_true = max(when_true, minor)
        elif len(terms) == 1:
            # Not below 5.N (nor at 5.N.x for <=): at least 5.N.
            when_false = minor
    return when_true, when_false


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


def call_arguments(text, start):
    """The argument texts of the call whose "(" is at text[start], or None."""
    depth, args, current = 0, [], ''
    for ch in text[start:]:
        if ch in '([{':
            depth += 1
            if depth == 1:
                continue
        elif ch in ')]}':
            depth -= 1
            if depth == 0:
                args.append(current)
                args = [a.strip() for a in args]
                return [] if args == [''] else args
        elif ch == ',' and depth == 1:
            args.append(current)
            current = ''
            continue
        current += ch
    return None


# Types to which a pointer does not convert.
NOT_FROM_POINTER = {'QString', 'QStringList', 'QChar', 'QByteArray', 'QLatin1String', 'QStringView',
                    'QUrl', 'QRegExp', 'QRegularExpression', 'int', 'uint', 'qint64', 'quint64',
                    'qint32', 'quint32', 'qsizetype', 'qreal', 'double', 'float', 'long', 'short',
                    'unsignedint', 'char'}


def argument_kind(arg, tags):
    """What little the text of an argument says about its type."""
    if arg == 'nullptr' or re.fullmatch(r'&\s*' + IDENT + r'(?:\[[^]]*\])?', arg) \
            or arg.startswith('new '):
        return 'pointer', None
    if re.fullmatch(r'(?:""\s*)+', arg):
        return 'literal', None
    if re.fullmatch(r'-?\d[\w.]*', arg):
        return 'number', arg
    qualified = re.fullmatch(r'((?:' + IDENT + r'::)+)(' + IDENT + ')', arg)
    if qualified:
        entries = tags.values.get((qualified.group(1)[:-2], qualified.group(2)))
        if entries:
            return 'enum', {enum for enum, _ in entries}
    return 'unknown', None


def accepts(param, owner, kind, tags):
    """Whether a parameter of this type can take an argument of this kind; unsure means yes."""
    what, detail = kind
    if what == 'unknown':
        return True
    base = re.sub(r'\bconst\b|&|\s', '', param)
    if '*' in base:
        return what == 'pointer' or (what == 'literal' and 'char' in base) or detail == '0'
    enums = tags.resolve_enum(base, owner)
    if enums:
        return what == 'enum' and bool(detail & enums)
    if what == 'pointer':
        return base not in NOT_FROM_POINTER
    return True


DECLARATION = re.compile(r'\b(Q[A-Za-z]\w*)\s*(?:<[^;{}()]*>\s*)?(?:const\s*)?[*&]*\s*\b([a-z_]\w*)'
                         r'\s*(?=[;=,)\[{(])')
NEW_DECLARATION = re.compile(r'\b([a-z_]\w*)\s*=\s*new\s+(Q[A-Za-z]\w*)\b')


def declared_types(text):
    """{variable: class} for variables of Qt classes declared in text; ambiguous names left out."""
    found = {}
    for cls, name in DECLARATION.findall(text):
        found.setdefault(name, set()).add(cls)
    for name, cls in NEW_DECLARATION.findall(text):
        found.setdefault(name, set()).add(cls)
    return {name: next(iter(classes)) for name, classes in found.items() if len(classes) == 1}


# Words after which a name and "(" make a call, not a declaration.
NOT_TYPES = {'return', 'else', 'case', 'throw', 'new', 'delete', 'do', 'goto', 'sizeof',
             'typeid', 'emit', 'Q_EMIT', 'co_return', 'co_yield', 'co_await', 'and', 'or',
             'not', 'xor', 'bitand', 'bitor', 'compl', 'decltype', 'alignof', 'noexcept'}


def declared_here(text, start):
    """Whether the name at text[start] is that of a function being declared or defined (void
    monthName();, QString Tool::marker() const {), which is no use of Qt's function."""
    before = text[max(start - 300, 0):start]
    scopes = re.search(r'(?:' + IDENT + r'\s*::\s*)*$', before)
    word = re.search(r'\b(' + IDENT + r')\s+$', before[:scopes.start()])
    return bool(word) and word.group(1) not in NOT_TYPES


def receiver_class(text, start, variables, tags):
    """The class a member call or a qualified name at text[start] is looked up in, 'std' for
    the standard library's (std::numeric_limits<int>::max()), or None."""
    before = text[max(start - 300, 0):start].rstrip()
    scopes = qualifiers(before)
    if scopes:
        return 'std' if scopes[0] == 'std' else scopes[-1]
    match = re.search(r'(' + IDENT + r')\s*(\.|->)$', before)
    if match:
        return variables.get(match.group(1))
    # A temporary of a Qt class: QLocale().name().
    temporary = re.search(r'\)\s*\.$', before)
    if temporary:
        opening = matching_open(before, temporary.start())
        cls = re.search(r'(' + IDENT + r')\s*$', before[:opening]) if opening else None
        if cls and cls.group(1) in tags.known_classes:
            return cls.group(1)
    return None


def qualifiers(before):
    """The scopes that qualify a name written right after before, outermost first, template
    arguments left out: ['std', 'numeric_limits'] for "std::numeric_limits<int>::"."""
    names, pos = [], len(before)
    while True:
        colons = re.search(r'::\s*$', before[:pos])
        if not colons:
            return names[::-1]
        pos = len(before[:colons.start()].rstrip())
        if pos and before[pos - 1] == '>':
            depth = 0
            for pos in range(pos - 1, -1, -1):
                ch = before[pos]
                depth += {'>': 1, '<': -1}.get(ch, 0)
                if depth == 0 or ch in ';{}()':
                    break
            if depth:
                return names[::-1]
        name = re.search(r'(' + IDENT + r')\s*$', before[:pos])
        if not name:
            return names[::-1]
        names.append(name.group(1))
        pos = name.start()


def matching_open(text, close):
    """The offset of the "(" that the ")" at text[close] closes, or None."""
    depth = 0
    for i in range(close, -1, -1):
        depth += {')': 1, '(': -1}.get(text[i], 0)
        if depth == 0:
            return i
    return None


def read_lines(file):
    """The file's code without comments and string contents, one string, with a function from
    an offset in it to (line number, innermost QT_VERSION guard's minor)."""
    with open(file, encoding='utf-8', errors='replace') as f:
        lines = f.read().split('\n')
    # Per open #if: [the minor its current branch implies, the minor that its earlier branches
    # having been false implies, the minor the current condition being false implies]. An
    # #else or #elif is taken when the conditions before it are false.
    guards, in_block = [], False
    code = []
    continued = ''
    for number, raw in enumerate(lines, 1):
        stripped = raw.strip()
        if continued or (stripped.startswith('#') and not in_block):
            directive = DIRECTIVE.match(continued + stripped)
            # A condition may go on over lines; the lines of a macro's body are code.
            if directive and stripped.endswith('\\'):
                continued += stripped[:-1] + ' '
                continue
            continued = ''
            kind, condition = directive.groups() if directive else ('', '')
            if kind in ('if', 'ifdef', 'ifndef'):
                when_true, when_false = version_bounds(condition) if kind == 'if' else (0, 0)
                guards.append([when_true, 0, when_false])
            elif kind in ('elif', 'else') and guards:
                guard = guards[-1]
                guard[1] = max(guard[1], guard[2])
                when_true, when_false = version_bounds(condition) if kind == 'elif' else (0, 0)
                guard[0], guard[2] = max(guard[1], when_true), when_false
            elif kind == 'endif' and guards:
                guards.pop()
            continue
        text, in_block = strip_comments_and_strings(raw, in_block)
        code.append((number, text, max((g[0] for g in guards), default=0)))
    joined = '\n'.join(t for _, t, _ in code)
    offsets, position = [], 0
    for number, text, guard in code:
        offsets.append((position, number, guard))
        position += len(text) + 1

    def where(offset):
        line, guard = (offsets[0][1], offsets[0][2]) if offsets else (1, 0)
        for start, number, g in offsets:
            if start > offset:
                break
            line, guard = number, g
        return line, guard

    return joined, where


def scan_source(file, tags, problems):
    joined, where = read_lines(file)
    # Members are declared in the header, used in the source.
    context = joined
    header = os.path.splitext(file)[0] + '.h'
    if file.endswith('.cpp') and os.path.isfile(header):
        context += '\n' + read_lines(header)[0]
    variables = declared_types(context)

    found = []

    def report(offset, minor, what):
        line, guard = where(offset)
        if guard < minor:
            found.append((line, f'{file}:{line}: {what} is new in Qt 5.{minor}'))

    words = set(re.findall(IDENT, joined))
    for name in words & (set(tags.classes) | {t for t in tags.types if isinstance(t, str)}):
        minor = tags.classes.get(name) or tags.types[name]
        for match in re.finditer(r'\b' + re.escape(name) + r'\b', joined):
            report(match.start(), minor, name)

    # Enumerators and typedefs by their qualified names, member function pointers, functions of
    # a namespace, called or not (QTextStream manipulators: ts << Qt::endl).
    qualified_name = re.compile(r'(&\s*)?\b((?:' + IDENT + r'::)+)(' + IDENT + r')\b(?!\s*::)')
    named = set()  # offsets of the namespace functions found so
    for match in qualified_name.finditer(joined):
        scope, name = match.group(2)[:-2], match.group(3)
        entries = tags.values.get((scope, name))
        if entries and min(m for _, m in entries) > 9:
            report(match.start(2), min(m for _, m in entries), f'{scope}::{name}')
        if (scope, name) in tags.types:
            report(match.start(2), tags.types[(scope, name)], f'{scope}::{name}')
        if match.group(1) and name in tags.functions:
            chain = tags.chain(scope.split('::')[-1])
            members = [o for o in tags.functions[name] if o.owner in chain]
            if members and min(o.minor for o in members) > 9:
                report(match.start(2), min(o.minor for o in members), f'&{scope}::{name}')
        elif scope in tags.namespaces and name in tags.functions:
            members = [o for o in tags.functions[name] if o.owner == scope]
            if members and min(o.minor for o in members) > 9:
                report(match.start(2), min(o.minor for o in members), f'{scope}::{name}')
                named.add(match.start(3))

    for match in re.finditer(r'\b(' + IDENT + r')\s*(?=\()', joined):
        name = match.group(1)
        overloads = tags.functions.get(name)
        if not overloads or not any(o.minor > 9 for o in overloads) or match.start() in named \
                or declared_here(joined, match.start()):
            continue
        args = call_arguments(joined, match.end())
        if args is None:
            continue
        # A call on an object or class of known type looks only at that class and its bases.
        cls = receiver_class(joined, match.start(), variables, tags)
        if cls == 'std':
            continue
        if cls:
            chain = tags.chain(cls)
            overloads = [o for o in overloads if o.owner in chain] or overloads
        kinds = [argument_kind(a, tags) for a in args]
        fitting = [o for o in overloads if o.lo <= len(args) <= o.hi and
                   all(accepts(p, o.owner, k, tags) for p, k in zip(o.params, kinds))]
        if not fitting or any(o.minor <= 9 for o in fitting):
            continue
        minor, qualified = min((o.minor, o.qualified) for o in fitting)
        report(match.start(), minor, f'{qualified} with {len(args)} argument(s)')
    problems += [problem for _, problem in sorted(found)]


def scan_form(file, tags, problems):
    """A Designer form: its widget, layout and action classes, their standard properties and
    the enumerators of property values."""
    with open(file, encoding='utf-8', errors='replace') as f:
        text = f.read()
    # Custom widgets are looked up as the class they extend.
    extends = dict(re.findall(r'<class>\s*(\w+)\s*</class>\s*<extends>\s*(\w+)\s*</extends>', text))
    parser = xml.parsers.expat.ParserCreate()
    stack, data = [], []

    def report(minor, what):
        problems.append(f'{file}:{parser.CurrentLineNumber}: {what} is new in Qt 5.{minor}')

    def start(tag, attrs):
        # The properties of spacers and of the items of item views are not those of a class.
        cls = {'widget': attrs.get('class'), 'layout': attrs.get('class'), 'action': 'QAction',
               'spacer': '-', 'item': '-', 'column': '-', 'row': '-'}.get(tag)
        if cls and cls in tags.classes:
            report(tags.classes[cls], cls)
        if tag == 'property' and attrs.get('stdset') != '0':
            owner = next((c for _, c in reversed(stack) if c), None)
            chain = tags.chain(extends.get(owner, owner)) if owner not in (None, '-') else []
            for c in chain:
                minor = tags.properties.get((c, attrs.get('name')))
                if minor is not None:
                    if minor > 9:
                        report(minor, f'{c}::{attrs.get("name")}')
                    break
        stack.append((tag, cls))
        data.clear()

    def end(tag):
        stack.pop()
        if tag in ('enum', 'set'):
            names = re.findall(r'(' + IDENT + r'(?:::' + IDENT + r')*)::(' + IDENT + r')',
                               ''.join(data))
            for scope, name in names:
                entries = tags.values.get((scope, name))
                if entries and min(m for _, m in entries) > 9:
                    report(min(m for _, m in entries), f'{scope}::{name}')

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.CharacterDataHandler = data.append
    try:
        parser.Parse(text.encode('utf-8'), True)
    except xml.parsers.expat.ExpatError as error:
        problems.append(f'{file}: cannot be read as a form: {error}')


def scan(paths, tags):
    problems = []
    files = []
    for path in paths:
        if os.path.isfile(path):
            files.append(path)
        for root, _, names in os.walk(path):
            files += [os.path.join(root, n) for n in names if n.endswith(('.cpp', '.h', '.ui'))]
    for file in sorted(set(files)):
        if file.endswith('.ui'):
            scan_form(file, tags, problems)
        else:
            scan_source(file, tags, problems)
    return problems


FORM = """<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <widget class="QDialog" name="form">
  <property name="windowTitle"><string>t</string></property>
  <layout class="QVBoxLayout" name="layout">
   <item>
    <widget class="%s" name="field">
     <property name="placeholderText"><string>p</string></property>
     <property name="alignment"><set>Qt::AlignLeft|Qt::AlignVCenter</set></property>
    </widget>
   </item>
  </layout>
 </widget>
</ui>
"""


def self_test(qt_source, tags):
    cases = {
        'new class': ('QRandomGenerator *g = QRandomGenerator::global();', True),
        'new function': ('QString s; s = s.chopped(1);', True),
        'new overload': ('QString::number(1).arg("a", "b", "c", "d", "e", "f", "g", "h", "i", "j");', True),
        'old overload': ('QString::number(1).arg("a", "b", "c");', False),
        'old API': ('QString s = QString::number(5).left(1);', False),
        'guarded': ('#if QT_VERSION >= QT_VERSION_CHECK(5, 10, 0)\nQString s; s = s.chopped(1);\n#endif', False),
        'guarded too low': ('#if QT_VERSION >= QT_VERSION_CHECK(5, 9, 0)\nQString s; s = s.chopped(1);\n#endif', True),
        'new overload by argument type': ("QString s; s.split(',', Qt::SkipEmptyParts);",
                                          'QString::split'),
        'old overload by argument type': ("QString s; s.split(',', QString::SkipEmptyParts);",
                                          False),
        'new member function pointer': ('QNetworkReply *reply = nullptr;\n'
                                        'connect(reply, &QNetworkReply::errorOccurred, reply, '
                                        '&QObject::deleteLater);',
                                        '&QNetworkReply::errorOccurred'),
        'old member function pointer': ('QNetworkReply *reply = nullptr;\n'
                                        'connect(reply, &QNetworkReply::finished, reply, '
                                        '&QObject::deleteLater);', False),
        'new member of a class by receiver type': ('QString s = "a"; QChar c = s.front();',
                                                   'QString::front'),
        'old member of the same name elsewhere': ('QStringList l; QString c = l.front();', False),
        'new overload by pointer argument': ('QProcess process; qint64 pid = 0;\n'
                                             'process.startDetached(&pid);',
                                             'QProcess::startDetached'),
        'old overload with as many arguments': ('QProcess process; process.startDetached("cmd");',
                                                False),
        'new typedef': ('qsizetype n = 0; (void)n;', 'qsizetype'),
        'new enumerator': ('QNetworkRequest request;\n'
                           'request.setAttribute(\n'
                           '    QNetworkRequest::AutoDeleteReplyOnFinishAttribute, true);',
                           'QNetworkRequest::AutoDeleteReplyOnFinishAttribute'),
        'old enumerator': ('QNetworkRequest request;\n'
                           'request.setAttribute(QNetworkRequest::FollowRedirectsAttribute, true);',
                           False),
        'guarded enumerator': ('#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)\n'
                               'QString s; s.split(",", Qt::SkipEmptyParts);\n#endif', False),
        'accessor older than its property': ('QWindow *w = nullptr; w->setTransientParent(w);',
                                             False),
        'new manipulator without a call': ('QString s; QTextStream ts(&s); ts << s << Qt::endl;',
                                           'Qt::endl'),
        'new namespace function called': ('QString s; QTextStream ts(&s); Qt::endl(ts);',
                                          'Qt::endl'),
        'old manipulator of the same name': ('QString s; QTextStream ts(&s); ts << s << endl;',
                                             False),
        'new overload by default arguments': ('QProcess process; process.startDetached();',
                                              'QProcess::startDetached'),
        'old overload by default arguments': (
            'QProcess::startDetached("cmd", QStringList(), "dir");', False),
        'old overloads that lost their default arguments to new ones': (
            'QThread thread; thread.wait();\n'
            'QString s; QStringList l = s.split(QLatin1Char(\',\'));', False),
        'untagged twin of a new overload': ('QLocale loc; QString s = loc.formattedDataSize(1000);',
                                            'QLocale::formattedDataSize'),
        'untagged twin on a temporary': ('QString s = QLocale().formattedDataSize(1000);',
                                         'QLocale::formattedDataSize'),
        'new member on a temporary': ('QChar c = QString("a").front();', 'QString::front'),
        'a standard library function of a new Qt name': (
            'quint32 m = std::numeric_limits<quint32>::max();', False),
        'own functions and variables with the names of new Qt functions': (
            'struct Tool { QString marker() const; void startDetached(); };\n'
            'QString Tool::marker() const { QPixmap bitmap(QSize(1, 1)); return QString(); }',
            False),
        'new API in the #else of an inverted guard': (
            '#if QT_VERSION < QT_VERSION_CHECK(5, 14, 0)\n'
            'QString s; s.split(",", QString::SkipEmptyParts);\n#else\n'
            'QString s; s.split(",", Qt::SkipEmptyParts);\n#endif', False),
        'new API in an inverted guard': (
            '#if QT_VERSION < QT_VERSION_CHECK(5, 14, 0)\n'
            'QString s; s.split(",", Qt::SkipEmptyParts);\n#else\n'
            'QString s; s.split(",", QString::SkipEmptyParts);\n#endif', 'Qt::SkipEmptyParts'),
        'new API in the #else of a guard': (
            '#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)\n'
            'QString s; s.split(",", QString::SkipEmptyParts);\n#else\n'
            'QString s; s.split(",", Qt::SkipEmptyParts);\n#endif', 'Qt::SkipEmptyParts'),
        'new API in #elif branches': (
            '#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)\n'
            'QString s; s.split(",", Qt::SkipEmptyParts);\n'
            '#elif QT_VERSION >= QT_VERSION_CHECK(5, 10, 0)\n'
            'QString s; s = s.chopped(1);\n#else\nQString s = QString::number(5);\n'
            '#endif\n'
            '#if QT_VERSION < QT_VERSION_CHECK(5, 10, 0)\n'
            'QString s = QString::number(5);\n'
            '#elif QT_VERSION < QT_VERSION_CHECK(5, 14, 0)\n'
            'QString s; s = s.chopped(1);\n#else\n'
            'QString s; s.split(",", Qt::SkipEmptyParts);\n#endif', False),
        'new API in an #elif too low': (
            '#if QT_VERSION < QT_VERSION_CHECK(5, 10, 0)\n'
            'QString s = QString::number(5);\n'
            '#elif QT_VERSION < QT_VERSION_CHECK(5, 14, 0)\n'
            'QString s; s.split(",", Qt::SkipEmptyParts);\n#endif', 'Qt::SkipEmptyParts'),
        'form with a new property': (FORM % 'QComboBox', 'QComboBox::placeholderText', '.ui'),
        'form with old properties': (FORM % 'QLineEdit', False, '.ui'),
    }
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for name, (code, expect, *suffix) in cases.items():
            path = os.path.join(folder, 'case' + (suffix[0] if suffix else '.cpp'))
            with open(path, 'w') as f:
                f.write(code if suffix else 'void f()\n{\n' + code + '\n}\n')
            problems = scan([path], tags)
            found = bool(problems)
            # A named expectation: flagged for that name, not only for something else.
            right = (found == bool(expect) and
                     (not isinstance(expect, str) or any(expect in p for p in problems)))
            verdict = 'ok' if right else 'WRONG'
            failures += not right
            print(f'self-test {name}: {"flagged" if found else "passed"} ({verdict})')
            for problem in problems:
                print('    ' + problem.replace(path, os.path.basename(path)))
            os.remove(path)
    return failures == 0


def find_qtbase(path):
    """A qtbase source tree: path itself, or the one qtbase-* folder inside it."""
    if os.path.isdir(os.path.join(path, 'src', 'corelib')):
        return path
    inside = sorted(os.path.join(path, n) for n in os.listdir(path) if n.startswith('qtbase')) \
        if os.path.isdir(path) else []
    inside = [p for p in inside if os.path.isdir(os.path.join(p, 'src', 'corelib'))]
    return inside[0] if inside else None


def main(argv):
    self_testing = argv[:1] == ['--self-test']
    if self_testing:
        argv = argv[1:]
    if not argv or (not self_testing and len(argv) < 2):
        print(__doc__, file=sys.stderr)
        return 2
    qt_source = find_qtbase(argv[0])
    if not qt_source:
        print(f'No qtbase source tree at {argv[0]}', file=sys.stderr)
        return 77
    tags = read_tags(qt_source)
    if self_testing:
        return 0 if self_test(qt_source, tags) else 1
    print(f'Qt API newer than 5.9: {len(tags.classes)} classes, {len(tags.types)} typedefs, '
          f'{sum(any(o.minor > 9 for o in f) for f in tags.functions.values())} function names, '
          f'{sum(min(m for _, m in v) > 9 for v in tags.values.values())} enumerators, '
          f'{sum(m > 9 for m in tags.properties.values())} properties')
    problems = scan(argv[1:], tags)
    for problem in problems:
        print(problem)
    if problems:
        print(f'{len(problems)} use(s) of Qt API newer than 5.9 without a QT_VERSION guard')
        return 1
    print('No unguarded use of Qt API newer than 5.9')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
