#!/usr/bin/env python3
"""Checks the library module's layout rules; prints each breach, exits 1 on any.

- No file under scanner/ includes a platform header: system calls go through
  core/platform.h, which reads errno right after each failing call.
- No function under scanner/ is longer than 60 lines, its braces included.
- The library's installed headers show hosts its interface and nothing of its
  inside: no friend, no include of a header that is not installed, no
  declaration of a class that no installed header defines.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MAX_LINES = 60
PLATFORM = re.compile(
    r'#\s*include\s*<(sys/[^>]+|unistd\.h|fcntl\.h|dirent\.h|pthread\.h|signal\.h|spawn\.h|'
    r'poll\.h|netdb\.h|ifaddrs\.h|malloc\.h|arpa/[^>]+|netinet/[^>]+|glusterfs/[^>]+|'
    r'attr/[^>]+|time\.h|errno\.h|stdio\.h|stdlib\.h|string\.h)>')


def code_only(text):
    """The text with comments, string and character literals blanked, lines kept."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            i = n if j < 0 else j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = text.find(')' + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif c in '"\'':
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == '\\' else 1
            out.append(' ' * (j + 1 - i))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def long_functions(path):
    """(line, length) of each function body longer than MAX_LINES."""
    code = code_only(open(path, encoding='utf-8', errors='replace').read())
    found = []
    stack = []  # for each open brace: (is a function body, line it opened on)
    line = 1
    for i, c in enumerate(code):
        if c == '\n':
            line += 1
        elif c == '{':
            before = code[:i].rstrip()
            inside_function = any(is_body for is_body, _ in stack)
            # A body follows a parameter list, its qualifiers or an initializer list.
            is_body = not inside_function and re.search(
                r'(\)|\bconst|\bnoexcept|\boverride|\bfinal|\)\s*->\s*[\w:<>,\s*&]+|[\w>\]]\s*\})$',
                before) is not None and not re.search(r'\b(namespace|class|struct|enum|union)\b[^;{}()]*$', before)
            stack.append((is_body, line))
        elif c == '}' and stack:
            is_body, opened = stack.pop()
            if is_body and line - opened + 1 > MAX_LINES:
                found.append((opened, line - opened + 1))
    return found


def installed_headers():
    """The installed headers, as their include paths ("scanner/scanner.h")."""
    headers = set()
    for module in ('scanner', 'core'):
        text = open(os.path.join(ROOT, module, 'CMakeLists.txt')).read()
        for files in re.findall(r'install\(FILES([^)]*)DESTINATION', text):
            headers.update(module + '/' + f for f in files.split() if f.endswith('.h'))
    return headers


def inside_shown(headers):
    """Each breach of the installed headers of scanner/ as 'path:line: what'."""
    texts = {h: code_only(open(os.path.join(ROOT, h), encoding='utf-8').read()) for h in headers}
    defined = set()
    for code in texts.values():
        defined.update(re.findall(r'\b(?:class|struct)\s+(?:TARN_EXPORT\s+)?(\w+)\s*(?:final\s*)?[:{]', code))
    found = []
    for header in sorted(h for h in headers if h.startswith('scanner/')):
        raw = open(os.path.join(ROOT, header), encoding='utf-8').read().split('\n')
        for number, line in enumerate(texts[header].split('\n'), 1):
            if re.search(r'\bfriend\b', line):
                found.append('%s:%d: a friend in an installed header' % (header, number))
            m = re.match(r'\s*class\s+(\w+)\s*;', line) or re.match(r'\s*struct\s+(\w+)\s*;', line)
            if m and m.group(1) not in defined:
                found.append('%s:%d: declares %s, which no installed header defines' %
                             (header, number, m.group(1)))
            inc = re.match(r'\s*#\s*include\s*"([^"]+)"', raw[number - 1])
            if inc and inc.group(1) not in headers:
                found.append('%s:%d: includes %s, which is not installed' % (header, number, inc.group(1)))
    return found


def main():
    breaches = inside_shown(installed_headers())
    for folder, _, names in os.walk(os.path.join(ROOT, 'scanner')):
        for name in sorted(names):
            if not name.endswith(('.cc', '.h')):
                continue
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, ROOT)
            for number, text in enumerate(open(path, encoding='utf-8', errors='replace'), 1):
                if PLATFORM.search(text):
                    breaches.append('%s:%d: includes a platform header: %s' % (rel, number, text.strip()))
            for opened, length in long_functions(path):
                breaches.append('%s:%d: a function of %d lines (at most %d)' % (rel, opened, length, MAX_LINES))
    for b in breaches:
        print(b)
    return 1 if breaches else 0


if __name__ == '__main__':
    sys.exit(main())
