"""Paging through a generated collection of 1,000 songs (five pages of 200): the pager, the search and
sort kept from page to page, and a batch queued from a later page."""
import unittest

import jukebox
from test_remote import JukeboxPageTest, gbk_query

ARTISTS = [('张学友', 1, 2), ('Beyond', 3, 2), ('王菲', 2, 1), ("Guns N' Roses (100%)", 3, 3)]
# Song i by artist i % 3; titles in reverse of their index order, so that sorting by name visibly
# changes the order of the list. One more song by a name with a quote, which the lists put into their
# links as it is.
SONGS = [('歌曲%04d' % (998 - i), i % 3, 'avi' if i % 2 else 'mp3') for i in range(999)]
SONGS.append(("Don't Cry 100%", 3, 'mp3'))
# Name order is the order of the code page 936 bytes.
BY_NAME = sorted((t for t, _, _ in SONGS), key=lambda t: t.encode('gbk'))


def big_collection(root):
    index, media = jukebox.write_collection(root, SONGS, ARTISTS)
    return {'setting:MtvIndexDir': index, 'setting:MtvRootDir': media}


class PagingThroughAThousandSongs(JukeboxPageTest):
    settings = staticmethod(big_collection)

    def pager_text(self):
        return self.b.find('#songs > table:not([cellpadding]) td').text

    def page_links(self):
        """The page numbers of the first pager, as shown."""
        return [e.text for e in self.b.find_all('#songs > table:first-child table a, '
                                                '#songs > table:first-child table span')]

    def titles(self):
        return [r[2] for r in self.song_rows()]

    def test_pages_in_name_order(self):
        self.open()
        self.assertEqual(self.pager_text(), '第 1 页 (共 5 页)')
        self.assertEqual(self.page_links(), ['1', '2', '3', '5'])
        self.assertEqual(len(self.song_rows()), 200)
        self.click_and_load(self.b.by_text('#songs .header', '歌曲'))
        self.assertIn('sortby=name', self.b.driver.current_url)
        expected = BY_NAME
        self.assertEqual(self.titles(), expected[:200])

        self.click_and_load(self.b.by_text('#songs > table:first-child a', '下一页'))
        self.assertEqual(self.pager_text(), '第 2 页 (共 5 页)')
        self.assertEqual(self.titles(), expected[200:400])
        self.assertIn('on', self.b.by_text('#songs .header', '歌曲').get_attribute('class'))

        self.click_and_load(self.b.by_text('#songs > table:first-child a', '5'))
        self.assertEqual(self.pager_text(), '第 5 页 (共 5 页)')
        self.assertEqual(self.titles(), expected[800:])
        self.assertEqual(self.b.by_text('#songs > table:first-child span', '下一页').get_attribute('class'),
                         'disabled')
        # The pager at the bottom works as well.
        self.click_and_load(self.b.by_text('#songs > table:last-child a', '上一页'))
        self.assertEqual(self.pager_text(), '第 4 页 (共 5 页)')
        self.assertEqual(self.titles(), expected[600:800])

    def test_paging_keeps_a_chinese_search(self):
        self.open('?q=' + gbk_query('张学友') + '&sortby=name')
        self.assertEqual(self.pager_text(), '第 1 页 (共 2 页)')
        # Two pages: no page numbers, only previous and next.
        self.assertEqual(self.page_links(), [])
        first = self.titles()
        self.click_and_load(self.b.by_text('#songs > table:first-child a', '下一页'))
        self.assertIn('q=' + gbk_query('张学友'), self.b.driver.current_url)
        self.assertEqual(self.pager_text(), '第 2 页 (共 2 页)')
        self.assertEqual(self.b.find('#q').get_attribute('value'), '张学友')
        rows = self.song_rows()
        self.assertEqual(len(rows), 133)
        self.assertTrue(all(r[0] == '张学友' for r in rows))
        every = first + [r[2] for r in rows]
        self.assertEqual(every, sorted(every))  # still in name order
        self.assertEqual(len(set(every)), 333)

    def test_batch_from_a_later_page(self):
        self.open('?param=3&sortby=name')
        self.assertEqual(self.pager_text(), '第 3 页 (共 5 页)')
        self.b.by_text('#songs > div > a', '批量添加本页歌曲>>').click()
        groups = [a.text for a in self.b.find_all('#batch_queue a')]
        self.assertEqual(groups, ['随机20首'] + ['%d-%d' % (n, n + 19) for n in range(1, 200, 20)])
        self.b.by_text('#batch_queue a', '181-200').click()
        rows = self.song_rows()[180:]
        self.wait_queue(['%s: %s' % (r[0], r[2]) for r in rows])
        # The random pick: twenty songs of this page.
        self.b.by_text('#batch_queue a', '随机20首').click()
        self.b.wait(lambda d: len(self.queue_texts()) == 40)
        page = set('%s: %s' % (r[0], r[2]) for r in self.song_rows())
        self.assertTrue(set(self.queue_texts()) <= page)
        self.b.screenshot('phone-songs-page-3')

    def test_a_full_queue_says_so(self):
        self.box.control('act=queue_song&param=' + ','.join(str(n) for n in range(1, 101)))
        self.open()
        self.assertEqual(self.b.find('#queue_count').text, '100')
        self.b.find('#songs > table[cellpadding] tr.odd td:nth-child(3) a').click()
        self.b.wait(lambda d: self.b.find('#toast').text == '已点歌曲已满 100 首')
        self.assertEqual(self.box.queue_html().count('<tr'), 100)

    def test_names_with_quotes_and_percent_signs_can_be_searched(self):
        self.open('?sortby=name')
        # From the song list: the artist link of the song.
        link = self.b.by_text('#songs td a', "Guns N' Roses (100%)")
        self.click_and_load(link)
        self.assertEqual(self.b.find('#q').get_attribute('value'), "Guns N' Roses (100%)")
        self.assertEqual(self.titles(), ["Don't Cry 100%"])
        # From the artist list, sorted by number of songs (the quoted name comes last).
        self.open('?act=artist&artist_sortby=song_count')
        self.click_and_load(self.b.find_all('#artists td a')[-1])
        self.assertEqual(self.titles(), ["Don't Cry 100%"])


if __name__ == '__main__':
    unittest.main()
