"""Both pages pass the axe-core accessibility audit in Chromium with no violation: the phone remote in
each of its views (at phone and desktop width) and the host console of the main window.

axe-core comes from the npm registry through scripts/setup.sh into a folder outside the build
($SINJO_TOOLS_DIR, by default ~/.cache/sinjobox); without it these tests are skipped with a message.
The console page normally lives inside the program, whose Door is its `external`; here a stand-in
`external` with a small queue is put in front of the page's scripts, and the remote frame shows the real
jukebox.
"""
import json
import os
import unittest

import jukebox
from jukebox import Browser, Jukebox
from test_remote import demo_settings

TOOLS_DIR = os.environ.get('SINJO_TOOLS_DIR', os.path.join(os.path.expanduser('~'), '.cache', 'sinjobox'))
AXE = os.path.join(TOOLS_DIR, 'node_modules', 'axe-core', 'axe.min.js')

# The console's `external` for the audit: what the program's Door would answer for a queue of three songs.
FAKE_EXTERNAL = r"""
(function () {
  var queue = [['12', 'Red Beans', 'Faye Wong'], ['7', 'Sea and Sky', 'Beyond'], ['3', 'Kiss Goodbye', 'Jacky Cheung']];
  var settings = {'setting:WebServerPort': '%(port)d', 'setting:PageSize': '200'};
  var ok = function (v) { return Promise.resolve(v); };
  var qr = ['1111111001111111', '1000001010100001', '1011101001101101', '1111111010111111'].join('\n');
  var external = {
    GetQSongCount: function () { return ok(queue.length); },
    GetQSong: function (i, p) { return ok(queue[i][{id: 0, name: 1, artist: 2}[p]]); },
    GetSetting: function (k) { return ok(settings[k] || ''); },
    SetSetting: function () { return ok(); },
    GetAlbumCount: function () { return ok(2); },
    GetAlbum: function (i, p) { return ok({name: 'Album ' + i, artist: 'Artist', song_count: '10'}[p]); },
    GetQrCode: function () { return ok(qr); },
    Reload: ok, OpenBrowser: ok, PlayPause: ok, Next: ok, Jump: ok, QueueSong: ok, ExecScript: ok,
    MoveQSongUp: ok, MoveQSongFront: ok, RemoveQSong: ok, RenameAlbum: ok, RenameFolder: ok
  };
  Object.defineProperty(external, 'ServeUrl', {get: function () { return ok('http://127.0.0.1:%(port)d'); }});
  Object.defineProperty(external, 'LanUrl', {get: function () { return ok('http://192.168.1.20:%(port)d'); }});
  Object.defineProperty(external, 'AudioSource', {get: function () { return ok('karaoke'); }, set: function () {}});
  Object.defineProperty(external, 'NextScriptToExecute', {get: function () { return ok(''); }, set: function () {}});
  window.external = external;
})();
"""


def describe(violations):
    lines = []
    for v in violations:
        lines.append('%s (%s): %s' % (v['id'], v['impact'], v['help']))
        for node in v['nodes'][:5]:
            lines.append('    %s  %s' % (' '.join(node['target']), node.get('failureSummary', '').replace('\n', ' ')))
    return '\n'.join(lines)


@unittest.skipUnless(os.path.exists(AXE), 'axe-core is not installed (scripts/setup.sh fetches it into %s)' % TOOLS_DIR)
class AccessibilityAudit(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(AXE, encoding='utf-8') as f:
            cls.axe = f.read()
        cls.box = Jukebox(demo_settings)
        try:
            cls.b = Browser()
        except Exception:
            cls.box.stop()
            cls.box.cleanup()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.b.quit()
        code = cls.box.stop()
        cls.box.cleanup()
        assert code == 0, 'exit status %r' % code

    def audit(self, name):
        self.b.js(self.axe)
        result = self.b.driver.execute_async_script(
            "var done = arguments[arguments.length - 1];"
            "axe.run(document, {resultTypes: ['violations']}).then(function (r) { done(JSON.stringify(r.violations)); },"
            " function (e) { done(JSON.stringify([{id: 'axe-failed', impact: 'x', help: String(e), nodes: []}])); });")
        violations = json.loads(result)
        self.assertEqual(violations, [], '%s:\n%s' % (name, describe(violations)))

    def test_the_phone_remote_in_every_view(self):
        self.box.reset()
        for song in (1, 2, 3):
            self.box.control('act=queue_song&param=%d' % song)
        views = [('songs', ''), ('search', '?q=a'), ('artists', '?act=artist'), ('albums', '?act=album'),
                 ('help', '?act=help')]
        # The song table names its columns: four column headers, which still sort the list.
        self.b.open(self.box.url)
        headers = self.b.js("return Array.prototype.map.call(document.querySelectorAll("
                            "'#songs table[cellpadding] tr:first-child > th[scope=col]'), function (h) { return h.textContent; })")
        self.assertEqual(headers, ['\u6b4c\u624b', '\u4e13\u8f91', '\u6b4c\u66f2', '\u6587\u4ef6\u7c7b\u578b'])
        self.assertEqual(self.b.js("return document.querySelectorAll('#songs table[cellpadding] td.header').length"), 0)
        for width in ('phone', 'desktop'):
            getattr(self.b, width)()
            for name, target in views:
                self.b.open(self.box.url + target)
                self.audit('%s at %s width' % (name, width))
            self.b.open(self.box.url)
            self.b.js("ToggleQueue(); ToggleMore();")
            self.b.wait(lambda d: d.execute_script("return document.querySelectorAll('#queue_list tr').length > 0"))
            self.audit('queue and more controls at %s width' % width)
        self.box.reset()

    def test_the_host_console(self):
        self.b.desktop()
        source = self.b.driver.execute_cdp_cmd('Page.addScriptToEvaluateOnNewDocument',
                                               {'source': FAKE_EXTERNAL % {'port': self.box.port}})
        try:
            page = 'file://' + os.path.join(jukebox.BUILD_DIR, 'bin', 'html', 'index.htm')
            self.b.driver.get(page)
            self.b.wait(lambda d: d.execute_script(
                "return document.querySelectorAll('#queue_list li').length === 3 && "
                "!document.getElementById('remote').hidden"), message='the console did not fill')
            self.b.js("document.getElementById('settings').open = true; document.getElementById('renaming').open = true;")
            self.audit('host console')
            # And when the remote is unreachable: the message in its place passes too.
            self.b.js("remoteUrl = 'http://127.0.0.1:9'; var f = document.getElementById('remote');"
                      " f.hidden = true; ShowRemote();")
            self.b.wait(lambda d: d.execute_script("return !document.getElementById('remote_down').hidden"))
            self.audit('host console without its remote')
            self.b.screenshot('console-in-chromium')
        finally:
            self.b.driver.execute_cdp_cmd('Page.removeScriptToEvaluateOnNewDocument', {'identifier': source['identifier']})


if __name__ == '__main__':
    unittest.main()
