"""Test support for the browser tests: a running jukebox and a headless Chromium driving its pages.

Jukebox starts the build's bin/Sinjo on a free port with its own profile folder (SINJO_HOME), headless,
with the simulated media player, on a collection given by its index and media folders. Settings are
written with bin/sinjo-settings before the start, as the demo script does. The program serves the
build's bin/html/web folder, so the tests check the installed pages.

Browser is one Chromium session (chromedriver) with a fresh profile; phone() and desktop() switch the
viewport, errors() returns the console errors since the last call.
"""
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

BUILD_DIR = os.path.abspath(os.environ.get('SINJO_BUILD_DIR', 'build'))
SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))
CHROMIUM = os.environ.get('SINJO_CHROMIUM', '/usr/bin/chromium')
CHROMEDRIVER = os.environ.get('SINJO_CHROMEDRIVER', '/usr/bin/chromedriver')
SOURCES = ['karaoke', 'original', 'left', 'right', 'stereo']


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def gbk_file(path, lines):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(''.join(line + '\r\n' for line in lines).encode('gbk'))


def write_collection(root, songs, artists):
    """Writes singer.csv and Songs.csv (code page 936, CRLF) and an empty file per song under root.

    artists: list of (name, category, region); songs: list of (title, artist index, extension)."""
    singers = ['id,name,py,category,region,note']
    singers += ['%d,%s,PY,%d,%d,0' % (i + 1, a[0], a[1], a[2]) for i, a in enumerate(artists)]
    lines = ['id,title,py,x,artist,x,x,x,x,channel,x,x,x,path,x']
    for i, (title, artist, ext) in enumerate(songs):
        rel = 'a%d\\%s.%s' % (artist + 1, title, ext)
        lines.append('%d,%s,PY,2,%d,x,x,MTV,1,%d,80,0,x,\\mtv\\%s,1' % (i + 1, title, artist + 1, 1 + i % 2, rel))
        media = os.path.join(root, 'mtv', 'a%d' % (artist + 1), '%s.%s' % (title, ext))
        os.makedirs(os.path.dirname(media), exist_ok=True)
        open(media, 'wb').close()
    gbk_file(os.path.join(root, 'mtvindex', 'singer.csv'), singers)
    gbk_file(os.path.join(root, 'mtvindex', 'Songs.csv'), lines)
    return os.path.join(root, 'mtvindex'), os.path.join(root, 'mtv')


class Jukebox:
    """settings: a function of the jukebox's own temporary folder (where it may write a collection)
    returning the settings to store before the start."""

    def __init__(self, settings):
        self.root = tempfile.mkdtemp(prefix='sinjo-browser-')
        self.home = os.path.join(self.root, 'home')
        os.makedirs(self.home)
        self.port = free_port()
        self.env = dict(os.environ, SINJO_HOME=self.home, SINJO_HEADLESS='1', SINJO_MEDIA_BACKEND='simulated',
                        SINJO_CAPTURE=os.path.join(self.root, 'capture.txt'), TMPDIR=self.root)
        self.env.pop('DISPLAY', None)
        self.env.pop('WAYLAND_DISPLAY', None)
        pairs = dict(settings(self.root))
        pairs['setting:WebServerPort'] = str(self.port)
        subprocess.run([os.path.join(BUILD_DIR, 'bin', 'sinjo-settings')] +
                       ['%s=%s' % kv for kv in pairs.items()], env=self.env, check=True,
                       stdout=subprocess.DEVNULL)
        self.log_path = os.path.join(self.root, 'output.txt')
        self.log = open(self.log_path, 'wb')
        self.process = subprocess.Popen([os.path.join(BUILD_DIR, 'bin', 'Sinjo')], env=self.env,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.url = 'http://127.0.0.1:%d/' % self.port
        deadline = time.time() + 30
        while True:
            try:
                if self.get('update_control_status'):
                    break
            except OSError:
                pass
            if self.process.poll() is not None or time.time() > deadline:
                output = self.output()
                self.stop()
                self.cleanup()
                raise RuntimeError('the jukebox did not start:\n' + output)
            time.sleep(0.1)

    def get(self, target):
        with urllib.request.urlopen(self.url + target, timeout=10) as r:
            return r.read()

    def control(self, query):
        assert self.get('control?' + query) == b'OK'

    def status(self):
        return self.get('update_control_status').decode('gbk')

    def queue_html(self):
        return self.get('queue_list').decode('gbk')

    def reset(self):
        """Empty queue, random play off, audio source "karaoke", not full screen."""
        self.control('act=clear_queue')
        if "'random_play').style.color = 'green'" in self.status():
            self.control('act=random_play')
            self.control('act=clear_queue')
        self.control('act=audio_source&param=karaoke')
        self.control('act=set_setting&param=pref%3AFullScreen%3Dfalse')

    def output(self):
        if not self.log.closed:
            self.log.flush()
        with open(self.log_path, 'rb') as f:
            return f.read().decode('utf-8', 'replace')

    def stop(self):
        """SIGTERM; returns the exit status (None when it had to be killed)."""
        code = None
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                code = self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        else:
            code = self.process.returncode
        self.log.close()
        return code

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)


class Browser:
    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix='sinjo-chromium-')
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                     '--disable-background-networking', '--disable-component-update', '--disable-sync',
                     '--disable-dev-shm-usage', '--lang=zh-CN', '--user-data-dir=' + self.profile]:
            options.add_argument(flag)
        options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.driver.set_page_load_timeout(30)
        self.phone()

    def phone(self):
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
            'width': 390, 'height': 844, 'deviceScaleFactor': 2, 'mobile': True})
        self.driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': True})

    def desktop(self):
        self.driver.execute_cdp_cmd('Emulation.setTouchEmulationEnabled', {'enabled': False})
        self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
            'width': 1280, 'height': 800, 'deviceScaleFactor': 1, 'mobile': False})

    def errors(self):
        """Console errors (uncaught exceptions, failed loads, console.error) since the last call."""
        return [e['message'] for e in self.driver.get_log('browser') if e['level'] == 'SEVERE']

    def open(self, url):
        self.driver.get(url)
        self.wait_ready()

    def wait_ready(self):
        # The page script has run and the first status and queue answers are shown.
        self.wait(lambda d: d.execute_script(
            "return document.readyState === 'complete' && typeof statusShown !== 'undefined' && "
            "statusShown > 0 && queueShown > 0"))

    def wait(self, condition, timeout=10, message=''):
        return WebDriverWait(self.driver, timeout, poll_frequency=0.05).until(condition, message)

    def find(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def find_all(self, css):
        return self.driver.find_elements(By.CSS_SELECTOR, css)

    def by_text(self, css, text):
        """The first displayed element matching css whose visible text is text."""
        for e in self.find_all(css):
            if e.is_displayed() and e.text.strip() == text:
                return e
        raise AssertionError('no visible %s with the text %r' % (css, text))

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def color(self, element_id):
        return self.js("return getComputedStyle(document.getElementById(arguments[0])).color", element_id)

    def screenshot(self, name):
        folder = os.path.join(BUILD_DIR, 'screenshots')
        os.makedirs(folder, exist_ok=True)
        self.driver.save_screenshot(os.path.join(folder, name + '.png'))

    def quit(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)
