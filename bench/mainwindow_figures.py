#!/usr/bin/python3
"""Figures of the main window on a desktop: the time from starting the program to its console page
answering, and the memory the window adds (the WebKit helper processes, and the program's own growth
against a headless run). Prints figures; never passes or fails.

    tests/support/with-display.sh --wm -- bench/mainwindow_figures.py <build folder> [runs]

(scripts/bench-mainwindow.sh does that.) Each run has its own profile folder and the bundled demo
collection. "Page answering" is when the page has run a script left in its mailbox through the Door
(sinjoctl), so it includes the page's mailbox poll (at most 250 ms) and one sinjoctl round trip.
"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), '..'))


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def kib(pid, field):
    """A field of /proc/<pid>/smaps_rollup (Rss, Pss) in KiB; 0 when the process is gone."""
    try:
        with open('/proc/%d/smaps_rollup' % pid) as f:
            for line in f:
                if line.startswith(field + ':'):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def descendants(root):
    children = {}
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        try:
            with open('/proc/%s/stat' % entry) as f:
                fields = f.read().rsplit(')', 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except OSError:
            continue
    found, todo = [], [root]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def name_of(pid):
    try:
        with open('/proc/%d/comm' % pid) as f:
            return f.read().strip()
    except OSError:
        return '?'


class Run:
    def __init__(self, build, headless):
        self.build = build
        self.root = tempfile.mkdtemp(prefix='sinjo-figures-')
        self.port = free_port()
        self.env = dict(os.environ, SINJO_HOME=os.path.join(self.root, 'home'), SINJO_MEDIA_BACKEND='simulated',
                        SINJO_CAPTURE=os.path.join(self.root, 'capture.txt'), SINJO_HEADLESS='1' if headless else '0')
        demo = os.path.join(SOURCE, 'demo')
        self.tool('sinjo-settings', 'setting:WebServerPort=%d' % self.port,
                  'setting:MtvIndexDir=' + os.path.join(demo, 'mtvindex'),
                  'setting:MtvRootDir=' + os.path.join(demo, 'mtv'),
                  'setting:UserMtvRootDir=' + os.path.join(demo, 'user'))
        self.tool('Sinjo', '-Regserver')
        self.started = time.monotonic()
        self.process = subprocess.Popen([os.path.join(build, 'bin', 'Sinjo')], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def tool(self, name, *args):
        return subprocess.run([os.path.join(self.build, 'bin', name)] + list(args), env=self.env,
                              capture_output=True, text=True, timeout=30)

    def wait_port(self):
        while time.monotonic() - self.started < 60:
            try:
                with socket.create_connection(('127.0.0.1', self.port), timeout=1):
                    return time.monotonic() - self.started
            except OSError:
                time.sleep(0.01)
        raise RuntimeError('the web server did not start')

    def wait_page(self):
        # The Door answers once the GUI loop runs; then the page runs what the mailbox holds.
        while self.tool('sinjoctl', 'NextScriptToExecute=' +
                        "external.SetSetting('probe:shown', 'yes')").returncode != 0:
            time.sleep(0.01)
        while self.tool('sinjoctl', 'GetSetting', 'probe:shown').stdout.strip() != 'yes':
            if time.monotonic() - self.started > 60:
                raise RuntimeError('the page did not answer')
            time.sleep(0.01)
        return time.monotonic() - self.started

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=20)
        shutil.rmtree(self.root, ignore_errors=True)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    if not os.environ.get('DISPLAY'):
        sys.exit('mainwindow_figures: needs a display (run it under tests/support/with-display.sh)')

    shown, ports, headless_ports, helpers, own_desktop, own_headless = [], [], [], [], [], []
    for _ in range(runs):
        run = Run(build, headless=False)
        try:
            ports.append(run.wait_port())
            shown.append(run.wait_page())
            time.sleep(2)  # let the page settle (frame loaded, first polls done)
            total_pss, parts = 0, []
            for pid in descendants(run.process.pid):
                pss = kib(pid, 'Pss')
                if pss:
                    total_pss += pss
                    parts.append('%s %d MiB' % (name_of(pid), pss // 1024))
            helpers.append((total_pss, ', '.join(parts)))
            own_desktop.append(kib(run.process.pid, 'Pss'))
        finally:
            run.stop()
        run = Run(build, headless=True)
        try:
            headless_ports.append(run.wait_port())
            time.sleep(2)
            own_headless.append(kib(run.process.pid, 'Pss'))
        finally:
            run.stop()

    print('Main window figures over %d runs (demo collection, virtual display, %s; load average %.1f)' %
          (runs, build, os.getloadavg()[0]))
    print('  start -> web server answering       median %4.0f ms  (min %.0f, max %.0f)' %
          (statistics.median(ports) * 1000, min(ports) * 1000, max(ports) * 1000))
    print('  headless: start -> web server       median %4.0f ms  (min %.0f, max %.0f)' %
          (statistics.median(headless_ports) * 1000, min(headless_ports) * 1000, max(headless_ports) * 1000))
    print('  start -> console page answering     median %4.0f ms  (min %.0f, max %.0f)' %
          (statistics.median(shown) * 1000, min(shown) * 1000, max(shown) * 1000))
    print('  WebKit helper processes (PSS)       median %4d MiB  (%s)' %
          (statistics.median([h[0] for h in helpers]) // 1024, helpers[-1][1]))
    print('  Sinjo itself (PSS): desktop %d MiB, headless %d MiB; the window adds %d MiB to the program' %
          (statistics.median(own_desktop) // 1024, statistics.median(own_headless) // 1024,
           (statistics.median(own_desktop) - statistics.median(own_headless)) // 1024))


if __name__ == '__main__':
    main()
