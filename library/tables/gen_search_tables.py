#!/usr/bin/python3
"""Writes the search tables of the pinyin search as C++ source, from the Debian data packages.

    gen_search_tables.py <Unihan_Readings.txt.bz2> <Unihan_Variants.txt.bz2> <UnicodeData.txt>
                         <OpenCC folder> <opencc_dict> <output .cpp>

Readings: the Mandarin readings of every Han character of the Basic Multilingual Plane from unicode-data's
Unihan_Readings (kMandarin, kHanyuPinlu, kXHC1983 and kTGHZ2013 together, so that polyphonic characters
get all their common readings; kHanyuPinyin only for characters none of those know), without tones, "u"
with diaeresis written "v" and also "u", as people type it.

Folding: traditional to simplified characters from libopencc-data's TSCharacters (its first candidate),
then unicode-data's kSimplifiedVariant for characters OpenCC does not list, and the CJK compatibility
ideographs to their canonical forms (UnicodeData.txt), repeated until nothing changes.

Nothing is downloaded; the build fails when a data file is missing.
"""
import bz2
import os
import subprocess
import sys
import tempfile
import unicodedata

FIRST, LAST = 0x3400, 0xFAFF  # the Han blocks of the BMP the tables cover, compatibility ideographs included


def read_unihan(path, fields):
    out = {}
    with bz2.open(path, 'rt', encoding='utf-8') as f:
        for line in f:
            if not line.startswith('U+'):
                continue
            code, field, value = line.rstrip('\n').split('\t', 2)
            if field in fields:
                out.setdefault(int(code[2:], 16), {})[field] = value
    return out


def toneless(reading):
    """'lǜ' -> ['lv', 'lu']; 'zhōng' -> ['zhong']."""
    plain = ''
    umlaut = False
    for ch in unicodedata.normalize('NFD', reading.lower()):
        if ch == '\u0308':
            umlaut = True
            plain = plain[:-1] + 'v' if plain.endswith('u') else plain
        elif 'a' <= ch <= 'z':
            plain += ch
    if not plain:
        return []
    return [plain, plain.replace('v', 'u')] if umlaut else [plain]


def readings_of(fields):
    found = []

    def add(text):
        for r in toneless(text):
            if r not in found:
                found.append(r)
    for key in ('kMandarin', 'kHanyuPinlu', 'kXHC1983', 'kTGHZ2013'):
        for word in fields.get(key, '').split():
            add(word.split(':')[-1].split('(')[0])
    if not found:
        for word in fields.get('kHanyuPinyin', '').split():
            for r in word.split(':')[-1].split(','):
                add(r)
    return found


def opencc_pairs(folder, tool, name):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, name + '.txt')
        subprocess.run([tool, '-i', os.path.join(folder, name + '.ocd2'), '-o', out, '-f', 'ocd2', '-t', 'text'],
                       check=True, stdout=subprocess.DEVNULL)
        with open(out, encoding='utf-8') as f:
            for line in f:
                parts = line.rstrip('\n').split('\t')
                if len(parts) == 2 and len(parts[0]) == 1:
                    yield parts[0], parts[1].split(' ')


def main():
    readings_file, variants_file, unicode_data, opencc_dir, opencc_dict, output = sys.argv[1:7]

    fold = {}
    for trad, simps in opencc_pairs(opencc_dir, opencc_dict, 'TSCharacters'):
        if len(simps[0]) == 1 and simps[0] != trad:
            fold[ord(trad)] = ord(simps[0])
    for code, fields in read_unihan(variants_file, {'kSimplifiedVariant'}).items():
        target = int(fields['kSimplifiedVariant'].split()[0][2:].split('<')[0], 16)
        if code not in fold and target != code and target <= 0xFFFF:
            fold[code] = target
    with open(unicode_data, encoding='utf-8') as f:
        for line in f:
            cols = line.split(';')
            code = int(cols[0], 16)
            if 0xF900 <= code <= 0xFAFF and cols[5] and not cols[5].startswith('<'):
                target = int(cols[5].split()[0], 16)
                if target <= 0xFFFF:
                    fold[code] = target
    # Fold to the end of each chain; a cycle (none is known) stops where it would repeat.
    final = {}
    for code in fold:
        seen = {code}
        target = fold[code]
        while target in fold and fold[target] not in seen:
            seen.add(target)
            target = fold[target]
        if target != code and target <= 0xFFFF and FIRST <= code <= LAST:
            final[code] = target

    unihan = read_unihan(readings_file, {'kMandarin', 'kHanyuPinlu', 'kXHC1983', 'kTGHZ2013', 'kHanyuPinyin'})
    readings = {code: readings_of(fields) for code, fields in unihan.items() if code <= 0xFFFF}
    readings = {c: r for c, r in readings.items() if r}
    # A character without readings of its own reads like the character it folds to.
    for code, target in final.items():
        if code not in readings and target in readings:
            readings[code] = readings[target]

    syllables = sorted({r for rs in readings.values() for r in rs})
    syllable_id = {s: i for i, s in enumerate(syllables)}
    pool = []
    pool_at = {}
    index = []
    for code in range(FIRST, LAST + 1):
        rs = readings.get(code, [])[:15]
        if not rs:
            index.append(0)
            continue
        key = tuple(syllable_id[r] for r in rs)
        if key not in pool_at:
            pool_at[key] = len(pool)
            pool.extend(key)
        index.append(pool_at[key] << 4 | len(key))
    folds = [final.get(code, 0) for code in range(FIRST, LAST + 1)]

    def rows(values, per_line=16):
        for i in range(0, len(values), per_line):
            yield '    ' + ', '.join(str(v) for v in values[i:i + per_line]) + ','

    lines = ['// Generated by library/tables/gen_search_tables.py from unicode-data (Unihan) and libopencc-data.',
             '// Do not edit; see that script.',
             '#include "library/SearchTables.h"',
             '',
             'namespace search_tables {',
             '',
             'const char* const kSyllables[] = {']
    lines += ['    "%s",' % s for s in syllables]
    lines += ['};',
              'const uint32_t kSyllableCount = %d;' % len(syllables),
              '',
              'const uint16_t kReadingPool[] = {']
    lines += list(rows(pool))
    lines += ['};',
              '',
              'const uint32_t kReadingIndex[kLast - kFirst + 1] = {']
    lines += list(rows(index))
    lines += ['};',
              '',
              'const uint16_t kFolded[kLast - kFirst + 1] = {']
    lines += list(rows(folds))
    lines += ['};',
              '',
              '}  // namespace search_tables',
              '']
    text = '\n'.join(lines)
    tmp = output + '.tmp'
    with open(tmp, 'w', encoding='utf-8') as f:
        f.write(text)
    os.replace(tmp, output)
    print('search tables: %d characters with readings, %d syllables, %d folded characters' %
          (sum(1 for v in index if v), len(syllables), sum(1 for v in folds if v)))


if __name__ == '__main__':
    main()
