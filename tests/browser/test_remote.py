"""The remote-control pages on the demo collection, in a phone-sized headless Chromium: what a singer
sees after searching, queuing, editing the queue and using the player controls."""
import os
import unittest
import urllib.parse

from selenium.webdriver.common.by import By

import jukebox
from jukebox import Browser, Jukebox, SOURCES

GREEN = 'rgb(0, 128, 0)'
BLACK = 'rgb(0, 0, 0)'
DISPLAY_NAMES = {'karaoke': '伴唱', 'original': '原唱', 'left': '左声道', 'right': '右声道', 'stereo': '立体声'}


def demo_settings(_root):
    demo = os.path.join(jukebox.SOURCE_DIR, 'demo')
    return {'setting:MtvIndexDir': os.path.join(demo, 'mtvindex'),
            'setting:MtvRootDir': os.path.join(demo, 'mtv'),
            'setting:UserMtvRootDir': os.path.join(demo, 'user')}


def gbk_query(text):
    return urllib.parse.quote(text.encode('gbk'))


class JukeboxPageTest(unittest.TestCase):
    """One jukebox and one browser for the class; every test starts from an empty queue."""
    settings = None

    @classmethod
    def setUpClass(cls):
        cls.box = Jukebox(cls.settings)
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
        output = cls.box.output()
        cls.box.cleanup()
        # The program must end cleanly (and, in a sanitizer build, without a report).
        assert code == 0, 'exit status %r\n%s' % (code, output)
        assert 'Sanitizer' not in output and 'runtime error' not in output, output

    def setUp(self):
        self.box.reset()
        self.b.phone()
        self.b.errors()

    def tearDown(self):
        self.assertEqual(self.b.errors(), [], 'script errors in the browser console')

    # ---- helpers: what the page shows ----

    def open(self, target=''):
        self.b.open(self.box.url + target)

    def song_rows(self):
        """(artist, album, title, extension) of every song row of the song list."""
        rows = self.b.js("""
            return Array.prototype.map.call(document.querySelectorAll('#songs > table[cellpadding] tr[class]'),
                function (tr) { return Array.prototype.map.call(tr.cells, function (td) { return td.innerText; }); });""")
        return [tuple(r) for r in rows]

    def queue_texts(self):
        return self.b.js("return Array.prototype.map.call(document.querySelectorAll('#queue_list tr'), "
                         "function (tr) { return tr.cells[0].textContent; })")

    def wait_queue(self, expected):
        try:
            self.b.wait(lambda d: self.queue_texts() == expected, message='queue list')
        except Exception:
            self.assertEqual(self.queue_texts(), expected)

    def button(self, row, label):
        """The button labelled label in queue row row."""
        for e in self.b.find_all('#queue_list tr')[row].find_elements(By.TAG_NAME, 'input'):
            if e.get_attribute('value') == label:
                return e
        raise AssertionError('no %s button in queue row %d' % (label, row))

    def open_queue(self):
        self.b.find('#tab_queue').click()
        self.b.wait(lambda d: self.b.find('#queue_panel').is_displayed())

    def click_and_load(self, element):
        """Clicks something that loads another page and waits for it."""
        old = self.b.find('html')
        # Into the middle of the screen, clear of the bars fixed at the top and bottom.
        self.b.js("arguments[0].scrollIntoView({block: 'center'})", element)
        element.click()
        self.b.wait(lambda d: old.id != self.b.find('html').id, message='a new page')
        self.b.wait_ready()


class RemoteOnDemo(JukeboxPageTest):
    settings = staticmethod(demo_settings)

    def test_search_typed_in_the_box_is_sent_in_gb2312(self):
        self.open()
        box = self.b.find('#q')
        box.send_keys('周华健')
        self.click_and_load(self.b.find('#search_go'))
        # The box asks for the pinyin search ("py"), which also finds plain text.
        self.assertIn('py=' + gbk_query('周华健'), self.b.driver.current_url)
        self.assertEqual(self.b.find('#q').get_attribute('value'), '周华健')
        rows = self.song_rows()
        self.assertEqual(sorted(r[2] for r in rows), sorted(['朋友', '花心', '让我欢喜让我忧', '天下有情人']))
        self.assertTrue(all('周华健' in r[0] for r in rows), rows)
        # Two words: only songs matching both.
        box = self.b.find('#q')
        box.clear()
        box.send_keys('周华健 rwhx')
        self.click_and_load(self.b.find('#search_go'))
        self.assertEqual(sorted(r[2] for r in self.song_rows()), ['让我欢喜让我忧'])

    def test_artist_and_album_views_lead_to_songs(self):
        self.open('?act=artist')
        self.assertTrue(self.b.find('#tab_artist').get_attribute('class') == 'on')
        self.click_and_load(self.b.by_text('#artists h3 a', '港台男歌手'))
        # By name (code page 936 order) at first.
        self.assertEqual([a.text for a in self.b.find_all('#artists td a')], ['张学友 (2)', '周华健 (4)'])
        self.assertEqual(self.b.find('#artists h3 span').text, '港台男歌手')  # the chosen category
        # By number of songs: the category stays chosen.
        self.click_and_load(self.b.by_text('#artists a', '按歌曲数量排序'))
        self.assertEqual([a.text for a in self.b.find_all('#artists td a')], ['周华健 (4)', '张学友 (2)'])
        self.assertIn('artist_sortby=song_count', self.b.driver.current_url)
        # An artist's name lists the artist's songs (the script sends the Chinese name as GB2312).
        self.click_and_load(self.b.by_text('#artists td a', '张学友 (2)'))
        self.assertEqual(self.b.find('#q').get_attribute('value'), '张学友')
        self.assertEqual(sorted(r[2] for r in self.song_rows()), ['一路上有你', '吻别'])
        self.assertEqual(self.b.find('#tab_songs').get_attribute('class'), 'on')

        self.b.find('#tab_album').click()
        self.b.wait(lambda d: 'act=album' in d.current_url)
        self.b.wait_ready()
        self.click_and_load(self.b.by_text('#albums td a', '海阔天空 (2)'))
        self.assertEqual(sorted(r[2] for r in self.song_rows()), ['不再犹豫', '海阔天空'])

    def test_sorting_songs_keeps_the_search(self):
        self.open('?q=' + gbk_query('周华健'))
        self.click_and_load(self.b.by_text('#songs .header', '文件类型'))
        self.assertEqual([r[3] for r in self.song_rows()], ['avi', 'dat', 'mp3', 'mp3'])
        self.assertEqual(self.b.find('#q').get_attribute('value'), '周华健')
        self.assertIn('on', self.b.by_text('#songs .header', '文件类型').get_attribute('class'))

    def test_queue_a_song_by_clicking_it(self):
        self.open('?q=' + gbk_query('周华健'))
        self.b.by_text('#songs a', '朋友').click()
        self.b.wait(lambda d: self.b.find('#toast').text == '已点：朋友', message='confirmation')
        self.wait_queue(['周华健: 朋友'])
        # A quick second tap (a bouncing finger) does not queue the song twice.
        song = self.b.by_text('#songs a', '花心')
        song.click()
        song.click()
        self.wait_queue(['周华健: 朋友', '周华健: 花心'])
        self.b.js('Refresh()')
        self.b.wait(lambda d: self.b.js('return queueShown === refreshSerial'))
        self.assertEqual(self.queue_texts(), ['周华健: 朋友', '周华健: 花心'])
        self.assertEqual(self.b.find('#queue_count').text, '2')
        self.assertEqual(self.b.find('#now_playing').text, '周华健: 朋友')
        # The queue panel shows them, the playing one marked as such.
        self.open_queue()
        marks = self.b.js("return Array.prototype.map.call(document.querySelectorAll('#queue_list tr'), "
                          "function (tr) { return getComputedStyle(tr.cells[0], '::before').content; })")
        self.assertEqual(marks, ['"正在播放"', 'none'])
        self.assertFalse(self.b.find('#queue_empty').is_displayed())

    def test_batch_queue_then_play_next_move_up_and_remove(self):
        self.open()
        batch = self.b.find('#batch_queue')
        self.assertFalse(batch.is_displayed())
        self.b.by_text('#songs > div > a', '批量添加本页歌曲>>').click()
        self.b.wait(lambda d: batch.is_displayed())
        self.assertEqual([a.text for a in batch.find_elements(By.TAG_NAME, 'a')], ['随机20首', '1-20', '21-27'])
        songs = ['%s: %s' % (r[0], r[2]) for r in self.song_rows()]
        self.b.by_text('#batch_queue a', '1-20').click()
        self.b.wait(lambda d: self.b.find('#toast').text == '已加入 20 首歌曲')
        expected = songs[:20]
        self.wait_queue(expected)

        self.open_queue()

        def row(i):
            return self.b.find_all('#queue_list tr')[i]

        # Play next: the entry moves right behind the playing song.
        row(5).find_element(By.TAG_NAME, 'a').click()
        expected.insert(1, expected.pop(5))
        self.wait_queue(expected)
        # Up one place.
        self.button(3, '上移').click()
        expected[2], expected[3] = expected[3], expected[2]
        self.wait_queue(expected)
        # Remove, the song after the playing one too.
        self.button(6, '删除').click()
        del expected[6]
        self.wait_queue(expected)
        self.button(1, '删除').click()
        del expected[1]
        self.wait_queue(expected)
        # The playing song has neither button, the next one only "remove".
        self.assertEqual(row(0).find_elements(By.TAG_NAME, 'input'), [])
        self.assertEqual([i.get_attribute('value') for i in row(1).find_elements(By.TAG_NAME, 'input')], ['删除'])

    def test_clear_needs_a_second_tap_and_next_advances(self):
        self.box.control('act=queue_song&param=0,1,2')
        self.open()
        self.wait_queue(['周华健: 朋友', '周华健: 花心', '周华健: 让我欢喜让我忧'])
        self.b.find('#next').click()
        self.wait_queue(['周华健: 花心', '周华健: 让我欢喜让我忧'])
        self.assertEqual(self.b.find('#now_playing').text, '周华健: 花心')
        self.open_queue()
        clear = self.b.find('#clear_queue')
        clear.click()
        self.assertEqual(clear.text, '再点一次清空')
        self.b.js('Refresh()')
        self.wait_queue(['周华健: 花心', '周华健: 让我欢喜让我忧'])
        clear.click()
        self.wait_queue([])
        self.assertTrue(self.b.find('#queue_empty').is_displayed())
        self.assertEqual(self.b.find('#queue_count').text, '0')
        self.assertEqual(clear.text, '清空')

    def test_audio_source_buttons_show_the_current_source(self):
        self.open()
        self.assertEqual(self.b.color('karaoke'), GREEN)
        for name in ['original', 'left', 'right', 'stereo', 'karaoke']:
            self.b.find('#' + name).click()
            self.b.wait(lambda d: self.b.color(name) == GREEN, message=name)
            self.assertEqual([s for s in SOURCES if self.b.color(s) == GREEN], [name])
            self.assertEqual([s for s in SOURCES if self.b.color(s) == BLACK], [s for s in SOURCES if s != name])
            self.assertEqual(self.b.find('#audio_source').text, DISPLAY_NAMES[name])
        # The jukebox keeps it: a new page shows it too.
        self.b.find('#original').click()
        self.b.wait(lambda d: self.b.color('original') == GREEN)
        self.open()
        self.assertEqual(self.b.color('original'), GREEN)
        self.assertEqual(self.b.find('#audio_source').text, '原唱')

    def test_random_play_and_full_screen_follow_the_jukebox(self):
        self.open()
        self.assertFalse(self.b.find('#random_play').is_displayed())
        self.b.find('#more').click()
        self.b.wait(lambda d: self.b.find('#random_play').is_displayed())
        self.assertEqual(self.b.color('random_play'), BLACK)
        self.b.find('#random_play').click()
        self.b.wait(lambda d: self.b.color('random_play') == GREEN)
        # Switched on in silence, random play starts music at once.
        self.b.wait(lambda d: len(self.queue_texts()) > 0, message='random songs')
        self.b.find('#random_play').click()
        self.b.wait(lambda d: self.b.color('random_play') == BLACK)

        box = self.b.find('#check_fullscreen')
        self.assertFalse(box.is_selected())
        box.click()
        self.b.wait(lambda d: 'checked = true' in self.box.status(), message='full screen stored')
        self.open()
        self.assertTrue(self.b.find('#check_fullscreen').is_selected())
        self.b.find('#more').click()
        self.b.find('#check_fullscreen').click()
        self.b.wait(lambda d: 'checked = false' in self.box.status(), message='full screen off')
        self.open()
        self.assertFalse(self.b.find('#check_fullscreen').is_selected())

    def test_player_buttons_send_their_commands(self):
        self.open()
        self.b.find('#more').click()
        cases = [('play_pause', 'act=play_pause'), ('volume_down', 'act=change_volume&param=-10'),
                 ('volume_up', 'act=change_volume&param=10'), ('back30', 'act=jump&param=-30'),
                 ('back10', 'act=jump&param=-10'), ('fwd10', 'act=jump&param=10'),
                 ('fwd30', 'act=jump&param=30'), ('next', 'act=next')]
        for button, query in cases:
            self.b.js('performance.clearResourceTimings()')
            self.b.find('#' + button).click()
            sent = self.b.wait(lambda d: [u for u in self.b.js(
                "return performance.getEntriesByType('resource').map(function (e) { return e.name; })")
                if '/control?' in u], message=button)
            self.assertEqual(sent, [self.box.url + 'control?' + query], button)

    def test_touch_targets_and_bars_on_a_phone(self):
        self.open()
        self.assertEqual(self.b.js('return innerWidth'), 390)
        self.assertFalse(self.b.js('return document.documentElement.scrollWidth > innerWidth'),
                         'the page scrolls sideways')
        self.b.js('window.scrollTo(0, document.body.scrollHeight)')
        self.assertTrue(self.b.js('return scrollY') > 0)
        # Search at the top and controls at the bottom stay in place while the list scrolls.
        self.assertEqual(self.b.js("return document.getElementById('top').getBoundingClientRect().top"), 0)
        bottom = self.b.js("return document.getElementById('controls').getBoundingClientRect().bottom")
        self.assertEqual(round(bottom), 844)
        # The last song is not hidden behind the control bar once scrolled to the end.
        last = self.b.js("var r = document.querySelectorAll('#songs tr'); "
                         "return r[r.length - 1].getBoundingClientRect().bottom")
        top_of_bar = self.b.js("return document.getElementById('controls').getBoundingClientRect().top")
        self.assertLessEqual(last, top_of_bar)
        small = self.b.js("""
            var out = [];
            var all = document.querySelectorAll('#controls button, #songs td:nth-child(3) a, #search_go, #tabs a');
            for (var i = 0; i < all.length; i++) {
              var r = all[i].getBoundingClientRect();
              if ((r.height < 40 || r.width < 40) && all[i].offsetParent !== null) out.push(all[i].textContent + ' ' + r.width + 'x' + r.height);
            }
            return out;""")
        self.assertEqual(small, [])

    def test_every_control_is_on_screen_at_every_width(self):
        """A phone, a tablet, the host console's frame and browser windows between them: no button of the
        control bar (with its extra row open) is cut off at a side or covered by another."""
        self.open()
        self.b.find('#more').click()
        for width in (360, 390, 600, 899, 900, 1024, 1100, 1279, 1280, 1600):
            self.b.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
                'width': width, 'height': 800, 'deviceScaleFactor': 1, 'mobile': width < 900})
            self.b.wait(lambda d: d.execute_script('return innerWidth') == width)
            faults = self.b.js("""
                var out = [], boxes = [];
                var all = document.querySelectorAll('#controls button, #controls label');
                for (var i = 0; i < all.length; i++) {
                  var r = all[i].getBoundingClientRect();
                  if (r.left < 0 || r.right > innerWidth || r.bottom > innerHeight) out.push(all[i].id + ' outside');
                  for (var j = 0; j < boxes.length; j++) {
                    var o = boxes[j];
                    if (r.left < o.r.right - 1 && o.r.left < r.right - 1 && r.top < o.r.bottom - 1 && o.r.top < r.bottom - 1)
                      out.push(all[i].id + ' over ' + o.id);
                  }
                  boxes.push({id: all[i].id, r: r});
                }
                return out;""")
            self.assertEqual(faults, [], 'at %d px' % width)
        self.b.phone()

    def test_every_view_at_phone_and_desktop_width(self):
        """Without script errors; screenshots for people to look at."""
        self.box.control('act=queue_song&param=0,9,5,13,17')
        for width, size in [('phone', self.b.phone), ('desktop', self.b.desktop)]:
            size()
            for view, target, check in [('songs', '', '#songs .header'), ('artists', '?act=artist', '#artists td a'),
                                        ('albums', '?act=album', '#albums td a'), ('help', '?act=help', '#help h3')]:
                self.open(target)
                self.assertTrue(self.b.find(check).is_displayed(), view)
                for other in ['songs', 'artists', 'albums', 'help']:
                    if other != view:
                        self.assertFalse(self.b.find('#' + other).is_displayed(), other)
                self.b.wait(lambda d: len(self.queue_texts()) == 5)
                self.b.screenshot('%s-%s' % (width, view))
                self.assertEqual(self.b.errors(), [], '%s %s' % (width, view))
            self.open()
            if width == 'phone':
                self.assertFalse(self.b.find('#queue_panel').is_displayed())
                self.open_queue()
            # On a desktop the queue is always beside the list.
            self.assertTrue(self.b.find('#queue_list').is_displayed())
            self.b.find('#more').click()
            self.b.wait(lambda d: self.b.find('#random_play').is_displayed())
            self.b.screenshot('%s-queue' % width)


if __name__ == '__main__':
    unittest.main()
