#!/usr/bin/env python3
"""Checks the library module's layout rules; prints each breach, exits 1 on any.

- No file under scanner/ includes a platform header: system calls go through
  core/platform.h, which reads errno right after each failing call.
- No function under scanner/ is longer than 60 lines, its braces included.
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


def main():
    breaches = []
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
