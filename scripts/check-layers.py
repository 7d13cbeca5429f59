#!/usr/bin/python3
"""Refuses includes that go against the direction of the layers.

    scripts/check-layers.py [--root DIR]

Folders depend in one direction, bottom to top:

    platform -> protocol -> core -> player -> library -> web -> app

A file may include headers of its own folder and of the folders below it, never of a folder above it.
platform/media, platform/x11 and platform/desktop sit beside platform (they may use platform; platform
does not use them). protocol/ holds names only and may use platform. resources/ holds the program's fixed data
(texts, dialog templates, registration tables, type information, class ids); it may use platform and
protocol, and only app/ uses it. The plug-in module (plugin/) links nothing of the program, so it may use
platform and protocol only. Unit tests (*_test.cpp) follow their folder's rule; they may also use the
header-only test support in tests/support/ and the data generator in bench/. tools/, tests/ and bench/
stand outside the layers.

Prints every include that breaks the rule as "file:line: <folder> may not include <header>" and exits 1
when there is one; exits 0 otherwise.
"""
import argparse
import os
import re
import sys

ORDER = ['platform', 'protocol', 'core', 'player', 'library', 'web', 'app']

# What each folder may include besides itself.
ALLOWED = {folder: set(ORDER[:i]) for i, folder in enumerate(ORDER)}
ALLOWED['platform/media'] = {'platform'}
ALLOWED['platform/x11'] = {'platform'}
ALLOWED['platform/desktop'] = {'platform'}
ALLOWED['plugin'] = {'platform', 'protocol'}
for above_platform in ORDER[1:]:
    ALLOWED[above_platform].update({'platform/media', 'platform/x11', 'platform/desktop'})
ALLOWED['resources'] = {'platform', 'protocol'}
ALLOWED['app'].add('resources')

TEST_SUPPORT = {'tests/support', 'bench'}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(path):
    """The layer a project path belongs to (header or source), or None outside the layers."""
    parts = path.split('/')
    if len(parts) >= 3 and parts[0] == 'platform' and parts[1] in ('media', 'x11', 'desktop'):
        return 'platform/' + parts[1]
    if len(parts) >= 3 and parts[0] == 'tests' and parts[1] == 'support':
        return 'tests/support'
    return parts[0] if len(parts) >= 2 else None


def check(root):
    problems = []
    for folder in ALLOWED:
        directory = os.path.join(root, folder)
        if not os.path.isdir(directory):
            continue
        for name in sorted(os.listdir(directory)):
            if not name.endswith(('.h', '.cpp')):
                continue
            relative = folder + '/' + name
            is_test = name.endswith('_test.cpp') or name == 'TestSupport.h'
            with open(os.path.join(directory, name), encoding='utf-8', errors='replace') as source:
                for number, line in enumerate(source, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    header = match.group(1)
                    target = folder_of(header)
                    if target is None or target == folder or target in ALLOWED[folder]:
                        continue
                    if is_test and target in TEST_SUPPORT:
                        continue
                    if target not in ALLOWED and target not in TEST_SUPPORT:
                        continue  # not a project folder (a system header spelled with quotes)
                    problems.append(f'{relative}:{number}: {folder} may not include {header}')
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--root', default=os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
    args = parser.parse_args()
    problems = check(os.path.abspath(args.root))
    for problem in problems:
        print(problem)
    if problems:
        print(f'{len(problems)} include(s) against the direction of the layers '
              f'({" -> ".join(ORDER)}); see scripts/check-layers.py', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
