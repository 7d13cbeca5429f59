// Generator of large synthetic karaoke collections: an artist index (singer.csv) and a song index
// (Songs.csv) in code page 936, shaped like the files a karaoke shop's catalogue software exports.
//
//   - Artist names: mostly a common surname and one or two common given-name characters, some Latin band
//     or stage names, some mixed; about one in ten is shared by two or more artists; one in ten is
//     written in traditional characters.
//   - Song titles: two to four common words of karaoke titles (月亮, 朋友, 爱情, ...), some with a Latin
//     word or a "(Live)"-style suffix; a large share comes from a pool of common titles, so many songs
//     have equal names; one in ten is written in traditional characters.
//   - The third column of both files holds the pinyin initials of the name ("PY" for 朋友), made from the
//     readings the search tables give, as karaoke index tools write them; one line in a hundred has a
//     column that does not fit its name.
//   - Song lines have fifteen columns (the loader reads columns 1, 4, 9 and 13), paths like
//     "\mtv\<letter>\<artist>\<title>.dat", channel flags 1 or 2, and a few lines that name an artist id
//     missing from the artist index (the loader skips them).
//   - Lines end with CR LF, as files made on the shop's Windows machines do.
//
// Names are made as wide text and written in code page 936. Output is deterministic for a given seed.
// Header-only, so benchmarks, tools and tests can all include it; nothing here is thread-shared.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "library/ChineseText.h"
#include "platform/CodePage.h"

namespace sinjo_bench {

struct CollectionSpec {
    int32_t songs = 100000;
    int32_t artists = 10000;
    uint32_t seed = 20260101;
};

class CollectionGenerator final {
public:
    explicit CollectionGenerator(const CollectionSpec& wanted) : m_spec(wanted), m_rng(wanted.seed) {
        MakeArtistNames();
        MakeTitlePool();
    }

    // The artist index, whole.
    std::string ArtistIndex() {
        std::string out;
        out.reserve(static_cast<size_t>(m_spec.artists) * 40 + 64);
        WriteArtists([&](const std::string& line) { out += line; });
        return out;
    }

    // The song index, whole.
    std::string SongIndex() {
        std::string out;
        out.reserve(static_cast<size_t>(m_spec.songs) * 120 + 128);
        WriteSongs([&](const std::string& line) { out += line; });
        return out;
    }

    // Writes "singer.csv" and "Songs.csv" into the native folder `dir` (which must exist), line by line so
    // that even a huge collection needs little memory. False when a file cannot be written.
    bool WriteFiles(const std::string& dir) {
        return WriteFile(dir + "/singer.csv", [&](auto sink) { WriteArtists(sink); }) &&
               WriteFile(dir + "/Songs.csv", [&](auto sink) { WriteSongs(sink); });
    }

    // The artist names in code page 936, index = id - 1.
    std::vector<std::string> ArtistNames() const {
        std::vector<std::string> names;
        for (const Name& a : m_artists) names.push_back(a.bytes);
        return names;
    }

private:
    template <class Body>
    static bool WriteFile(const std::string& path, Body body) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return false;
        bool ok = true;
        body([&](const std::string& line) { ok = ok && std::fwrite(line.data(), 1, line.size(), f) == line.size(); });
        ok = std::fclose(f) == 0 && ok;
        return ok;
    }

    int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    bool Chance(int percent) { return Uniform(0, 99) < percent; }

    template <class T>
    const T& Pick(const std::vector<T>& pool) {
        return pool[static_cast<size_t>(Uniform(0, static_cast<int>(pool.size()) - 1))];
    }

    std::wstring LatinWord(int minLen, int maxLen) {
        std::wstring s;
        const int n = Uniform(minLen, maxLen);
        for (int i = 0; i < n; ++i) s += static_cast<wchar_t>((i == 0 ? L'A' : L'a') + Uniform(0, 25));
        return s;
    }

    // A name in code page 936 with its pinyin column: the first letter of the first reading of each unit.
    struct Name {
        std::string bytes;
        std::string column;
    };

    Name Written(std::wstring text) {
        if (Chance(10)) {
            // Written in traditional characters.
            static const std::wstring simplified = L"爱东国这时说个来们对会梦风云飞忆恋泪听边远无乐长门开见"
                                                   L"湾华红兰凤丽欢灯号蓝鸟龙书问过还";
            static const std::wstring traditional = L"愛東國這時說個來們對會夢風雲飛憶戀淚聽邊遠無樂長門開見"
                                                    L"灣華紅蘭鳳麗歡燈號藍鳥龍書問過還";
            for (wchar_t& c : text) {
                const size_t at = simplified.find(c);
                if (at != std::wstring::npos) c = traditional[at];
            }
        }
        Name name{platform::WideToMultiByte(platform::CP_GBK, text), std::string()};
        chinese_text::PinyinUnits units;
        units.Assign(text);
        for (size_t u = 0; u < units.Count(); ++u) {
            const char initial = units.ReadingCount(u) > 0 ? units.Reading(u, 0)[0] : 'X';
            name.column += static_cast<char>(initial >= 'a' && initial <= 'z' ? initial - 32 : initial);
        }
        if (Chance(1)) name.column += "Q";  // a column that does not fit its name
        return name;
    }

    void MakeArtistNames() {
        static const std::vector<std::wstring> surnames = {
            L"王", L"李", L"张", L"刘", L"陈", L"杨", L"黄", L"赵", L"吴", L"周", L"徐", L"孙", L"马", L"朱",
            L"胡", L"郭", L"何", L"高", L"林", L"罗", L"郑", L"梁", L"谢", L"宋", L"唐", L"许", L"韩", L"冯",
            L"邓", L"曹", L"彭", L"曾", L"萧", L"田", L"董", L"潘", L"袁", L"蔡", L"蒋", L"余", L"叶", L"苏"};
        static const std::vector<std::wstring> given = {
            L"伟", L"芳", L"娜", L"敏", L"静", L"丽", L"强", L"磊", L"军", L"洋", L"勇", L"艳", L"杰", L"娟",
            L"涛", L"明", L"超", L"秀", L"霞", L"平", L"刚", L"英", L"华", L"玉", L"兰", L"飞", L"红", L"梅",
            L"波", L"辉", L"鹏", L"宇", L"浩", L"凯", L"健", L"俊", L"帆", L"旭", L"宁", L"婷", L"欣", L"怡",
            L"雪", L"琳", L"晶", L"学", L"友", L"菲", L"楠", L"德", L"云", L"龙", L"东", L"乐", L"长"};
        // About 90% distinct names; the rest repeat an earlier name.
        const int32_t n = m_spec.artists;
        m_artists.reserve(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) {
            if (i > 0 && Chance(10)) {
                m_artists.push_back(m_artists[static_cast<size_t>(Uniform(0, i - 1))]);
                continue;
            }
            const int kind = Uniform(0, 99);
            std::wstring name;
            if (kind < 75) {
                name = Pick(surnames) + Pick(given);
                if (Chance(70)) name += Pick(given);
            } else if (kind < 92) {
                name = LatinWord(3, 8);
                if (Chance(50)) name += L" " + LatinWord(3, 7);
            } else {
                name = LatinWord(1, 3) + Pick(given) + Pick(given);
            }
            m_artists.push_back(Written(name));
        }
    }

    void MakeTitlePool() {
        for (int i = 0; i < 5000; ++i) m_titlePool.push_back(RandomTitle());
    }

    Name RandomTitle() {
        static const std::vector<std::wstring> words = {
            L"月亮", L"代表", L"我的心", L"朋友", L"爱情", L"时光", L"岁月", L"海阔", L"天空", L"离开",
            L"等待", L"回忆", L"梦想", L"远方", L"故乡", L"春天", L"夏天", L"秋天", L"冬天", L"雨中",
            L"星空", L"永远", L"幸福", L"眼泪", L"微笑", L"温柔", L"寂寞", L"思念", L"青春", L"流浪",
            L"明天", L"昨天", L"今天", L"一生", L"相遇", L"告别", L"再见", L"你好", L"对不起", L"我们",
            L"天使", L"恋人", L"情歌", L"红豆", L"玫瑰", L"花开", L"风吹", L"云飞", L"大海", L"长江",
            L"北京", L"重庆", L"行走", L"快乐", L"伤心", L"孤单", L"约定", L"心跳", L"旋律", L"忘记",
            L"想你", L"爱你", L"等你", L"为你", L"陪你", L"的", L"在", L"和", L"一个人", L"两个人",
            L"东方", L"之珠", L"光辉", L"真的", L"容易", L"受伤", L"女人", L"甜蜜蜜", L"小城", L"故事",
            L"长城", L"银行", L"音乐", L"没有", L"如果", L"那些", L"年", L"夜", L"灯", L"门"};
        std::wstring title;
        const int n = Uniform(2, 4);
        for (int i = 0; i < n; ++i) title += Pick(words);
        if (Chance(8)) title += L" " + LatinWord(3, 8);
        if (Chance(5)) title += Chance(50) ? L"(Live)" : L"(DJ版)";
        return Written(title);
    }

    template <class Sink>
    void WriteArtists(Sink sink) {
        sink("SingerID,SingerName,Spell,Sex,Region\r\n");
        for (int32_t i = 0; i < m_spec.artists; ++i) {
            const Name& name = m_artists[static_cast<size_t>(i)];
            std::string line = std::to_string(i + 1);
            line += ',';
            line += name.bytes;
            line += ',';
            line += name.column;
            line += ',';
            line += std::to_string(Chance(3) ? 0 : Uniform(1, 3));
            line += ',';
            line += std::to_string(Chance(3) ? 0 : Uniform(1, 3));
            line += "\r\n";
            sink(line);
        }
    }

    template <class Sink>
    void WriteSongs(Sink sink) {
        sink("SongID,SongName,Spell,WordCount,SingerID,SingerName,Language,Style,Year,Channel,Volume,"
             "Kind,Hits,Path,Remark\r\n");
        static const char* const kLanguages[] = {"\xB9\xFA\xD3\xEF", "\xD4\xC1\xD3\xEF", "\xD3\xA2\xD3\xEF"};
        static const char* const kExts[] = {".dat", ".avi", ".mpg", ".wmv", ".mp3"};
        for (int32_t i = 0; i < m_spec.songs; ++i) {
            const Name titleName = Chance(60) ? m_titlePool[static_cast<size_t>(Uniform(0, 4999))] : RandomTitle();
            const std::string& title = titleName.bytes;
            // About 0.5% of lines name an artist that the artist index lacks.
            const int32_t artistId = Chance(1) && Chance(50) ? m_spec.artists + Uniform(1, 1000)
                                                             : Uniform(1, m_spec.artists);
            const std::string& artist = artistId <= m_spec.artists ? m_artists[static_cast<size_t>(artistId - 1)].bytes
                                                                   : m_titlePool[0].bytes;
            std::string line = std::to_string(i + 1);
            line += ',';
            line += title;
            line += ',';
            line += titleName.column;
            line += ',';
            line += std::to_string(Uniform(2, 10));
            line += ',';
            line += std::to_string(artistId);
            line += ',';
            line += artist;
            line += ',';
            line += kLanguages[Uniform(0, 2)];
            line += ',';
            line += std::to_string(Uniform(0, 9));
            line += ',';
            line += std::to_string(Uniform(1980, 2025));
            line += ',';
            line += Chance(50) ? '1' : '2';
            line += ',';
            line += std::to_string(Uniform(50, 100));
            line += ',';
            line += std::to_string(Uniform(0, 3));
            line += ',';
            line += std::to_string(Uniform(0, 99999));
            line += ",\\mtv\\";
            line += static_cast<char>('A' + Uniform(0, 25));
            line += '\\';
            line += artist;
            line += '\\';
            line += title;
            line += kExts[Uniform(0, 4)];
            line += ',';
            if (Chance(10)) line += platform::WideToMultiByte(platform::CP_GBK, L"原版");
            line += "\r\n";
            sink(line);
        }
    }

    CollectionSpec m_spec;
    std::mt19937 m_rng;
    std::vector<Name> m_artists;    // index = id - 1
    std::vector<Name> m_titlePool;
};

}  // namespace sinjo_bench
