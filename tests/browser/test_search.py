"""Searching as the singer types on the phone page: the song list follows the typing without a page load,
shows what the server answers for the same "py" search, and keeps the search and order when sorting."""
import re
import unittest
import urllib.parse

from selenium.webdriver.common.keys import Keys

from test_remote import JukeboxPageTest, demo_settings


def page_titles(page):
    """The titles of a page's song list, in its order (the server's markup or the browser's DOM)."""
    songs = page[page.index('<div id="songs"'):]
    return re.findall(r"""href=["']javascript:QueueSong\(\d+\)["'][^>]*>([^<]*)</a>""", songs)


def server_titles(box, text, sortby='', name='py'):
    """The titles of the server's answer to index.htm?<name>=text, in its order."""
    target = 'index.htm?%s=%s' % (name, urllib.parse.quote(text.encode('gbk')))
    if sortby:
        target += '&sortby=' + sortby
    return page_titles(box.get(target).decode('gbk'))


class TypingOnThePhone(JukeboxPageTest):
    settings = staticmethod(demo_settings)

    def titles(self):
        return [r[2] for r in self.song_rows()]

    def type_and_wait(self, keys, text):
        """Types keys into the search box and waits until the list shows the server's answer to text."""
        self.b.find('#q').send_keys(keys)
        expected = server_titles(self.box, text, self.b.js("return State().sortby"))
        try:
            self.b.wait(lambda d: self.titles() == expected and
                        self.b.js("return liveShown") == text, message='the answer to %r' % text)
        except Exception:
            self.assertEqual(self.titles(), expected)
        return expected

    def test_results_follow_the_typing(self):
        self.open()
        page = self.b.find('html')
        everything = len(self.titles())
        # Initials, letter by letter: each pause shows the answer to what is typed so far.
        self.assertGreater(len(self.type_and_wait('z', 'z')), 0)
        self.assertEqual(self.type_and_wait('xy', 'zxy'), ['吻别', '一路上有你'])  # 张学友's songs
        self.b.find('#q').clear()
        # Full pinyin, typed quickly: only the last text's answer is shown.
        self.assertEqual(self.type_and_wait('pengyou', 'pengyou'), ['朋友'])
        self.b.find('#q').clear()
        # Traditional characters find the simplified title (sent in GBK by the script).
        self.assertEqual(self.type_and_wait('月亮代表', '月亮代表'), ['月亮代表我的心'])
        self.b.find('#q').clear()
        self.assertEqual(self.type_and_wait('愛', '愛'), server_titles(self.box, '爱'))
        # Still the same page: nothing was loaded.
        self.assertEqual(page.id, self.b.find('html').id)
        self.assertIn('py=', self.b.driver.current_url)
        # Emptying the box lists every song again.
        self.b.find('#q').send_keys('\b')
        self.b.wait(lambda d: len(self.titles()) == everything, message='every song')
        self.b.screenshot('phone-search-typing')

    def test_sorting_keeps_the_typed_search(self):
        self.open()
        expected = self.type_and_wait('yl', 'yl')
        self.assertGreater(len(expected), 0)
        self.click_and_load(self.b.by_text('#songs .header', '歌曲'))
        self.assertIn('py=yl', self.b.driver.current_url)
        self.assertIn('sortby=name', self.b.driver.current_url)
        self.assertEqual(self.titles(), server_titles(self.box, 'yl', 'name'))
        self.assertEqual(self.b.find('#q').get_attribute('value'), 'yl')

    def test_the_exact_search_stays_reachable(self):
        self.open('?py=zxy')
        # An artist link in the list asks for the exact search "q".
        self.click_and_load(self.b.by_text('#songs td a', '张学友'))
        self.assertIn('q=', self.b.driver.current_url)
        self.assertEqual(sorted(self.titles()), ['一路上有你', '吻别'])

    def test_without_script_the_box_is_the_exact_search(self):
        # A browser that runs no script submits the plain form, which asks for "q": the exact search.
        driver = self.b.driver
        driver.execute_cdp_cmd('Emulation.setScriptExecutionDisabled', {'value': True})
        try:
            driver.get(self.box.url)
            box = self.b.find('#q')
            box.send_keys('周华健 mp3' + Keys.ENTER)
            self.b.wait(lambda d: 'q=' in d.current_url, message='the form\'s page')
            self.assertIn('q=' + urllib.parse.quote('周华健'.encode('gbk')) + '+mp3', driver.current_url)
            self.assertNotIn('py=', driver.current_url)
            titles = page_titles(driver.page_source)
            self.assertEqual(titles, server_titles(self.box, '周华健 mp3', name='q'))
            self.assertEqual(sorted(titles), ['天下有情人', '让我欢喜让我忧'])
            # Pinyin means nothing to the exact search.
            self.assertEqual(server_titles(self.box, 'zhj', name='q'), [])
        finally:
            driver.execute_cdp_cmd('Emulation.setScriptExecutionDisabled', {'value': False})


if __name__ == '__main__':
    unittest.main()
