#!/usr/bin/python3
"""The layering check against small trees: it passes a tree whose includes point down, and refuses each
include that points up or sideways, naming the file and line."""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CHECK = os.path.join(HERE, 'check-layers.py')


def run(files):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), 'w') as out:
                out.write(text)
        done = subprocess.run([sys.executable, CHECK, '--root', root], capture_output=True, text=True)
        return done.returncode, done.stdout


GOOD = {
    'platform/Gui.h': '#pragma once\n',
    'platform/media/Gst.cpp': '#include "platform/Gui.h"\n',
    'platform/desktop/WebWindow.cpp': '#include "platform/Gui.h"\n',
    'protocol/Commands.h': '#include "platform/Gui.h"\n',
    'core/Settings.cpp': '#include "protocol/Commands.h"\n#include "core/Settings.h"\n',
    'player/SPlayer.cpp': '#include "core/Settings.h"\n#include "platform/media/Gst.h"\n',
    'library/SongMan.cpp': '#include "player/SPlayer.h"\n#include <vector>\n',
    'library/SongMan_test.cpp': '#include "tests/support/SinjoProcess.h"\n#include "bench/CollectionGenerator.h"\n',
    'web/SWebServer.cpp': '#include "library/SongMan.h"\n',
    'app/SinjoApp.cpp': '#include "web/SWebServer.h"\n#include "platform/desktop/WebWindow.h"\n',
    'plugin/CSinjoPlugin.cpp': '#include "protocol/ChannelHandoff.h"\n#include "platform/Dmo.h"\n',
    'resources/DoorTypeInfo.h': '#include "platform/Com.h"\n',
    'app/Door.cpp': '#include "resources/DoorTypeInfo.h"\n',
}

BAD = [
    ('library/SongMan.cpp', '#include "app/Globals.h"\n'),
    ('player/SPlayer.cpp', '#include "library/SongMan.h"\n'),
    ('platform/Gui.cpp', '#include "core/Settings.h"\n'),
    ('platform/Gui.cpp', '#include "platform/media/Gst.h"\n'),
    ('platform/Gui.cpp', '#include "platform/x11/X11WindowSystem.h"\n'),
    ('platform/Gui.cpp', '#include "platform/desktop/WebWindow.h"\n'),
    ('platform/media/Gst.cpp', '#include "platform/desktop/Desktop.h"\n'),
    ('plugin/CSinjoPlugin.cpp', '#include "platform/desktop/Desktop.h"\n'),
    ('core/Settings.cpp', '#include "web/ByteString.h"\n'),
    ('protocol/Commands.h', '#include "core/Text.h"\n'),
    ('plugin/CSinjoPlugin.cpp', '#include "core/Settings.h"\n'),
    ('web/SWebServer_test.cpp', '#include "app/SinjoDlg.h"\n'),
    ('library/SongMan.cpp', '#include "tests/support/SinjoProcess.h"\n'),
    ('web/SWebServer.cpp', '#include "resources/DoorTypeInfo.h"\n'),
    ('resources/DoorTypeInfo.h', '#include "core/Settings.h"\n'),
]


def main():
    failures = []
    code, out = run(GOOD)
    if code != 0:
        failures.append(f'a tree whose includes point down was refused:\n{out}')
    for path, text in BAD:
        tree = dict(GOOD)
        tree[path] = '// first line\n' + text
        code, out = run(tree)
        if code != 1 or f'{path}:2:' not in out:
            failures.append(f'{path} with {text.strip()} was not refused (exit {code}): {out!r}')
    for failure in failures:
        print('FAIL:', failure)
    print(f'{len(BAD) + 1 - len(failures)} of {len(BAD) + 1} cases right')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
