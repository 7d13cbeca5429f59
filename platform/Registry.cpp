// The registry stand-in: hives as REGEDIT4 text files in the profile folder.
//
// In memory a hive is a map from the case-folded key path to the key (its spelled path and its values
// in creation order). The map orders paths component by component, so a parent is followed directly
// by its whole subtree and the file reads like a tree.
//
// Parent keys: creating or filling a key creates every missing parent as a real key, as the platform
// does, and every key is written with its own section line, parents included. A file written by hand
// with only "[HKEY_CURRENT_USER\A\B]" therefore still shows A as existing, and A gets its section line
// with the next write. The root itself (empty path) always exists; it gets a section line
// ("[HKEY_CURRENT_USER]") only when it holds values.
//
// Escapes inside quotes: besides "\\" and "\"" the writer uses "\n", "\r" and "\0" so that no text can
// break the line format. On reading, a backslash before any other character is kept as it is, so a
// hand-written "C:\Mtv" reads as C:\Mtv.
//
// Damage: lines that cannot be parsed (and bytes that are not UTF-8, and values under a section header
// that cannot be parsed) are skipped and reported once per file version on standard error. Before the
// first write over such a file its bytes are copied to "<hive>.bad"; when that name is taken by an
// older, different copy, the next free "<hive>.bad.1", "<hive>.bad.2", ... is used, so no damaged
// version is ever lost. A hive that exists but cannot be read at all (a directory, a device, a read
// error) reads as empty and is never written over: writes fail with ERROR_ACCESS_DENIED.
//
// Key paths: an empty component (a leading or doubled separator) and line breaks or zeros in a key
// name are refused with ERROR_INVALID_PARAMETER; one trailing separator is ignored.
//
// Writes: a call that would change nothing (the same value again, an existing key) does not touch
// the file, so pollers see no change. A new hive is made with mode 0644 (less the umask); a rewrite
// keeps the old file's mode.
//
// Caching: each root keeps the parsed hive with the file's device, inode, size, modification time and
// change time (ns). A read only stats the file and reuses the parse while those are unchanged. Because
// file-system time stamps are coarse, a file whose modification time lies within kRacyMarginNs of the
// moment it was read is not trusted and is read again on the next call, so a quick sequence of
// writes that reuses an inode with an equal size can never hide behind an equal time stamp.
#include "platform/Registry.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <locale.h>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

namespace platform {
namespace {

constexpr int64_t kRacyMarginNs = 50'000'000;  // 50 ms, several file-system clock ticks

// ---------------------------------------------------------------------------------------------------
// Text

locale_t FoldLocale() {
    // Case folding beyond ASCII needs a UTF-8 character-type locale; the plain "C" locale only folds
    // ASCII. Made once, never freed (used until the process ends).
    static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return loc;
}

wchar_t FoldChar(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    const locale_t loc = FoldLocale();
    return loc != nullptr ? static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc)) : c;
}

std::wstring Fold(std::wstring_view s) {
    std::wstring out(s);
    for (wchar_t& c : out) c = FoldChar(c);
    return out;
}

bool IsValidCodePoint(uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

void AppendUtf8(std::string& out, wchar_t wc) {
    uint32_t c = static_cast<uint32_t>(wc);
    if (!IsValidCodePoint(c)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Strict UTF-8 decoding: every byte that does not start a well-formed sequence becomes U+FFFD and
// sets *bad.
std::wstring DecodeUtf8(std::string_view s, bool* bad) {
    std::wstring out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        if (b0 < 0x80) {
            out += static_cast<wchar_t>(b0);
            ++i;
            continue;
        }
        size_t len = 0;
        uint32_t c = 0;
        uint32_t min = 0;
        if ((b0 & 0xE0) == 0xC0) {
            len = 2, c = b0 & 0x1F, min = 0x80;
        } else if ((b0 & 0xF0) == 0xE0) {
            len = 3, c = b0 & 0x0F, min = 0x800;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4, c = b0 & 0x07, min = 0x10000;
        }
        bool ok = len != 0 && i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (b & 0x3F);
        }
        if (ok && c >= min && IsValidCodePoint(c)) {
            out += static_cast<wchar_t>(c);
            i += len;
        } else {
            out += static_cast<wchar_t>(0xFFFD);
            *bad = true;
            ++i;
        }
    }
    return out;
}

std::string EncodeUtf8(std::wstring_view s) {
    std::string out;
    out.reserve(s.size());
    for (wchar_t c : s) AppendUtf8(out, c);
    return out;
}

void AppendQuoted(std::string& out, std::wstring_view s) {
    out += '"';
    for (wchar_t c : s) {
        switch (c) {
        case L'\\': out += "\\\\"; break;
        case L'"': out += "\\\""; break;
        case L'\n': out += "\\n"; break;
        case L'\r': out += "\\r"; break;
        case L'\0': out += "\\0"; break;
        default: AppendUtf8(out, c);
        }
    }
    out += '"';
}

// ---------------------------------------------------------------------------------------------------
// Key paths

// Orders folded paths component by component: the separator sorts before every other character, so
// "a\b" comes right after "a" and before "a b".
struct PathLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        const size_t n = std::min(a.size(), b.size());
        for (size_t i = 0; i < n; ++i) {
            if (a[i] == b[i]) continue;
            if (a[i] == L'\\') return true;
            if (b[i] == L'\\') return false;
            return a[i] < b[i];
        }
        return a.size() < b.size();
    }
};

// Checks a key path and gives its spelled and folded forms. Empty components (a leading separator,
// a doubled one) are refused; one trailing separator is ignored. Characters that would break a
// section line (line breaks, zero) are refused.
bool NormalizeKey(std::wstring_view key, std::wstring* spelled) {
    if (key.size() > 1 && key.back() == L'\\') key.remove_suffix(1);
    if (key.empty()) {
        spelled->clear();
        return true;
    }
    bool componentEmpty = true;
    for (wchar_t c : key) {
        if (c == L'\n' || c == L'\r' || c == L'\0') return false;
        if (c == L'\\') {
            if (componentEmpty) return false;
            componentEmpty = true;
        } else {
            componentEmpty = false;
        }
    }
    if (componentEmpty) return false;
    spelled->assign(key);
    return true;
}

struct Key {
    std::wstring path;             // the spelled path below the root; "" for the root
    std::vector<RegValue> values;  // in creation order
    std::unordered_map<std::wstring, size_t> index;  // folded value name -> position in `values`
};

using KeyMap = std::map<std::wstring, Key, PathLess>;  // folded path -> key

struct Hive {
    KeyMap keys;              // always holds the root ("")
    size_t badLines = 0;      // lines skipped while parsing
    size_t firstBadLine = 0;  // 1-based line number of the first of them
    bool unreadable = false;  // the file exists but could not be read
    std::string raw;          // the file's bytes, kept only when badLines > 0 (for the .bad copy)

    Hive() { keys.emplace(std::wstring(), Key{}); }
};

// Finds or creates a key with all its parents. A new component is spelled as given; existing
// components keep their first spelling.
Key& CreateKeyPath(KeyMap& keys, const std::wstring& spelled, bool* created) {
    Key* current = &keys.at(std::wstring());
    size_t start = 0;
    while (start < spelled.size()) {
        size_t end = spelled.find(L'\\', start);
        if (end == std::wstring::npos) end = spelled.size();
        const std::wstring folded = Fold(std::wstring_view(spelled).substr(0, end));
        auto it = keys.find(folded);
        if (it == keys.end()) {
            Key k;
            k.path = current->path.empty() ? spelled.substr(start, end - start)
                                           : current->path + L'\\' + spelled.substr(start, end - start);
            it = keys.emplace(folded, std::move(k)).first;
            *created = true;
        }
        current = &it->second;
        start = end + 1;
    }
    return *current;
}

const RegValue* FindValue(const Key& key, std::wstring_view name) {
    const auto it = key.index.find(Fold(name));
    return it == key.index.end() ? nullptr : &key.values[it->second];
}

// Sets a value, keeping the spelling and position of an existing value with that name.
bool SetValue(Key& key, RegValue value) {
    std::wstring folded = Fold(value.name);
    const auto it = key.index.find(folded);
    if (it != key.index.end()) {
        RegValue& old = key.values[it->second];
        if (old.type == value.type && old.text == value.text && old.dword == value.dword) return false;
        old.type = value.type;
        old.text = std::move(value.text);
        old.dword = value.dword;
        return true;
    }
    key.index.emplace(std::move(folded), key.values.size());
    key.values.push_back(std::move(value));
    return true;
}

bool EraseValue(Key& key, std::wstring_view name) {
    const auto it = key.index.find(Fold(name));
    if (it == key.index.end()) return false;
    const size_t pos = it->second;
    key.index.erase(it);
    key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(pos));
    for (auto& [folded, at] : key.index)
        if (at > pos) --at;
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Parsing and writing the file

const char* RootName(RegRoot root) {
    return root == RegRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_CLASSES_ROOT";
}

bool StartsWithNoCase(std::wstring_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (FoldChar(s[i]) != FoldChar(static_cast<wchar_t>(prefix[i]))) return false;
    return true;
}

void SkipBlanks(std::wstring_view s, size_t* i) {
    while (*i < s.size() && (s[*i] == L' ' || s[*i] == L'\t')) ++*i;
}

// Reads a quoted text starting at s[*i] == '"'; false when it is not closed.
bool ParseQuoted(std::wstring_view s, size_t* i, std::wstring* out) {
    out->clear();
    for (size_t k = *i + 1; k < s.size(); ++k) {
        const wchar_t c = s[k];
        if (c == L'"') {
            *i = k + 1;
            return true;
        }
        if (c != L'\\' || k + 1 >= s.size()) {
            *out += c;
            continue;
        }
        const wchar_t e = s[++k];
        switch (e) {
        case L'\\': *out += L'\\'; break;
        case L'"': *out += L'"'; break;
        case L'n': *out += L'\n'; break;
        case L'r': *out += L'\r'; break;
        case L'0': *out += L'\0'; break;
        default:  // not an escape: keep the backslash as written by hand
            *out += L'\\';
            *out += e;
        }
    }
    return false;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// One value line: "name"="text", "name"=dword:XXXXXXXX, @=... .
bool ParseValueLine(std::wstring_view line, RegValue* value) {
    size_t i = 0;
    value->name.clear();
    if (line[0] == L'@') {
        i = 1;
    } else if (!ParseQuoted(line, &i, &value->name)) {
        return false;
    }
    SkipBlanks(line, &i);
    if (i >= line.size() || line[i] != L'=') return false;
    ++i;
    SkipBlanks(line, &i);
    if (i < line.size() && line[i] == L'"') {
        if (!ParseQuoted(line, &i, &value->text)) return false;
        SkipBlanks(line, &i);
        value->type = REG_SZ;
        value->dword = 0;
        return i == line.size();
    }
    if (!StartsWithNoCase(line.substr(i), "dword:")) return false;
    i += 6;
    uint32_t v = 0;
    size_t digits = 0;
    for (; i < line.size() && HexDigit(line[i]) >= 0; ++i, ++digits) v = (v << 4) | HexDigit(line[i]);
    SkipBlanks(line, &i);
    if (digits == 0 || digits > 8 || i != line.size()) return false;
    value->type = REG_DWORD;
    value->text.clear();
    value->dword = v;
    return true;
}

// Parses a whole file. Never fails: what cannot be understood is counted in badLines.
std::shared_ptr<Hive> ParseHive(std::string_view bytes, RegRoot root) {
    auto hive = std::make_shared<Hive>();
    const std::string_view whole = bytes;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    const std::string_view rootName = RootName(root);

    auto noteBad = [&](size_t lineNo) {
        if (hive->badLines++ == 0) hive->firstBadLine = lineNo;
    };

    Key* section = nullptr;  // current section, null before the first or after a bad header
    bool sawHeader = false;  // the "REGEDIT4" line (or any content line in its place)
    size_t lineNo = 0;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        bool badBytes = false;
        const std::wstring decoded = DecodeUtf8(bytes.substr(pos, end - pos), &badBytes);
        pos = end + 1;
        ++lineNo;
        std::wstring_view line(decoded);
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' ' || line.back() == L'\t'))
            line.remove_suffix(1);
        size_t lead = 0;
        SkipBlanks(line, &lead);
        line.remove_prefix(lead);
        if (line.empty() || line[0] == L';') continue;
        if (badBytes) {
            // Not UTF-8: the line cannot be trusted to mean what it says.
            noteBad(lineNo);
            continue;
        }
        if (!sawHeader) {
            sawHeader = true;
            if (line == L"REGEDIT4") continue;
            noteBad(lineNo);  // no header: note it, but still read the line as content
        }
        if (line[0] == L'[') {
            section = nullptr;
            std::wstring spelled;
            if (line.back() == L']') {
                const std::wstring_view inner = line.substr(1, line.size() - 2);
                if (StartsWithNoCase(inner, rootName)) {
                    std::wstring_view rest = inner.substr(rootName.size());
                    const bool ok = rest.empty() || (rest[0] == L'\\' && rest.size() > 1);
                    if (ok && !rest.empty()) rest.remove_prefix(1);
                    if (ok && NormalizeKey(rest, &spelled)) {
                        bool created = false;
                        section = &CreateKeyPath(hive->keys, spelled, &created);
                    }
                }
            }
            if (section == nullptr) noteBad(lineNo);
            continue;
        }
        RegValue value;
        if (section == nullptr || (line[0] != L'"' && line[0] != L'@') || !ParseValueLine(line, &value)) {
            noteBad(lineNo);
            continue;
        }
        SetValue(*section, std::move(value));  // a repeated name: the later line wins
    }
    if (hive->badLines > 0) hive->raw.assign(whole.data(), whole.size());
    return hive;
}

std::string SerializeHive(const Hive& hive, RegRoot root) {
    std::string out = "REGEDIT4\n";
    const std::string rootName = RootName(root);
    for (const auto& [folded, key] : hive.keys) {
        if (key.path.empty() && key.values.empty()) continue;
        out += "\n[";
        out += rootName;
        if (!key.path.empty()) {
            out += '\\';
            out += EncodeUtf8(key.path);
        }
        out += "]\n";
        for (const RegValue& v : key.values) {
            if (v.name.empty()) {
                out += '@';
            } else {
                AppendQuoted(out, v.name);
            }
            out += '=';
            if (v.type == REG_DWORD) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08x", v.dword);
                out += buf;
            } else {
                AppendQuoted(out, v.text);
            }
            out += '\n';
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------
// Files

// What identifies one version of the hive file.
struct Signature {
    enum Kind { Missing, File, Error } kind = Missing;
    int error = 0;  // errno for Error
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;  // catches an in-place rewrite that restored the modification time
    mode_t mode = 0;

    bool operator==(const Signature& o) const {
        return kind == o.kind && error == o.error && dev == o.dev && ino == o.ino && size == o.size &&
               mtimeNs == o.mtimeNs && ctimeNs == o.ctimeNs;
    }
};

Signature SignatureOf(const struct stat& sb) {
    Signature s;
    s.kind = Signature::File;
    s.dev = sb.st_dev;
    s.ino = sb.st_ino;
    s.size = static_cast<uint64_t>(sb.st_size);
    s.mtimeNs = static_cast<int64_t>(sb.st_mtim.tv_sec) * 1'000'000'000 + sb.st_mtim.tv_nsec;
    s.ctimeNs = static_cast<int64_t>(sb.st_ctim.tv_sec) * 1'000'000'000 + sb.st_ctim.tv_nsec;
    s.mode = sb.st_mode;
    return s;
}

Signature StatHive(const std::string& path) {
    struct stat sb;
    if (stat(path.c_str(), &sb) == 0) return SignatureOf(sb);
    Signature s;
    if (errno != ENOENT && errno != ENOTDIR) {
        s.kind = Signature::Error;
        s.error = errno;
    }
    return s;
}

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool ReadAll(int fd, std::string* out) {
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out->append(buf, static_cast<size_t>(n));
    }
}

class Fd final {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Reads and parses the hive file; *sig receives the version that was read and *error the reason when
// the file exists but cannot be read.
std::shared_ptr<Hive> ReadHive(const std::string& path, RegRoot root, Signature* sig, int* error) {
    auto unreadable = [&](int err) {
        auto hive = std::make_shared<Hive>();
        hive->unreadable = true;
        *error = err;
        return hive;
    };
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR) {
            *sig = Signature{};
            return std::make_shared<Hive>();
        }
        *sig = StatHive(path);
        return unreadable(err);
    }
    struct stat sb;
    if (fstat(fd.get(), &sb) != 0) {
        *sig = Signature{Signature::Error, errno};
        return unreadable(sig->error);
    }
    *sig = SignatureOf(sb);
    if (!S_ISREG(sb.st_mode)) return unreadable(S_ISDIR(sb.st_mode) ? EISDIR : EINVAL);
    std::string bytes;
    if (!ReadAll(fd.get(), &bytes)) return unreadable(errno);
    return ParseHive(bytes, root);
}

bool FileHasBytes(const std::string& path, std::string_view bytes) {
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return false;
    std::string have;
    return ReadAll(fd.get(), &have) && have == bytes;
}

// Keeps a damaged file's bytes as "<hive>.bad", or the next free "<hive>.bad.N" when an older,
// different copy holds that name. True when a copy exists afterwards.
bool KeepBadCopy(const std::string& path, std::string_view bytes) {
    for (int n = 0; n < 1000; ++n) {
        const std::string name = path + ".bad" + (n == 0 ? std::string() : "." + std::to_string(n));
        Fd fd(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            if (errno != EEXIST) return false;
            if (FileHasBytes(name, bytes)) return true;  // this version was kept already
            continue;
        }
        if (!WriteAll(fd.get(), bytes) || fsync(fd.get()) != 0) {
            unlink(name.c_str());
            return false;
        }
        return close(fd.release()) == 0;
    }
    return false;
}

// Writes the hive's new text: temporary file, fsync, rename over the hive. The folder is not synced:
// after a crash the rename may be undone, but the hive is then the complete previous version, never a
// torn one, and skipping it halves the cost of a write.
// *sig receives the version written (taken after the rename, which changes the change time; the
// caller holds the lock, so no cooperating writer can have replaced it meanwhile).
bool WriteHiveFile(const std::string& path, std::string_view text, mode_t mode, Signature* sig) {
    const std::string tmp = path + ".tmp." + std::to_string(getpid());
    Fd fd(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) return false;
    bool ok = (mode == 0 || fchmod(fd.get(), mode & 07777) == 0) && WriteAll(fd.get(), text) &&
              fsync(fd.get()) == 0;
    ok = close(fd.release()) == 0 && ok && rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(tmp.c_str());
        return false;
    }
    *sig = StatHive(path);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Per-root state

struct RootState {
    // Serialises this process's writers of the hive; held from before the flock until the cache
    // holds what was written. Taken before cacheMutex, never while holding it.
    std::mutex writeMutex;

    // Guards the cache fields below; held only to copy or replace them, never across file I/O.
    std::mutex cacheMutex;
    std::string path;                  // hive path the cache belongs to
    Signature sig;                     // version of the file the cache was parsed from
    int64_t readAtNs = 0;              // CLOCK_REALTIME just before that version was read
    std::shared_ptr<const Hive> hive;  // null until first read
    std::string reportedPath;          // the damaged or unreadable version last reported
    Signature reportedSig;
};

RootState& State(RegRoot root) {
    static RootState states[2];
    return states[root == RegRoot::CurrentUser ? 0 : 1];
}

// The current hive of a root: the cached parse while the file is unchanged, else a fresh read.
std::shared_ptr<const Hive> CurrentHive(RegRoot root, const std::string& path) {
    RootState& st = State(root);
    const int64_t now = NowNs();
    const Signature seen = StatHive(path);
    {
        std::lock_guard<std::mutex> lock(st.cacheMutex);
        const bool racy = st.sig.kind == Signature::File && S_ISREG(st.sig.mode) &&
                          st.readAtNs - st.sig.mtimeNs <= kRacyMarginNs;
        if (st.hive && st.path == path && st.sig == seen && !racy) return st.hive;
    }
    Signature sig;
    int error = 0;
    std::shared_ptr<const Hive> hive = ReadHive(path, root, &sig, &error);
    std::lock_guard<std::mutex> lock(st.cacheMutex);
    // Report a damaged or unreadable file once per version, not on every re-read.
    if ((hive->unreadable || hive->badLines > 0) && !(st.reportedPath == path && st.reportedSig == sig)) {
        st.reportedPath = path;
        st.reportedSig = sig;
        if (hive->unreadable) {
            std::fprintf(stderr,
                         "sinjo: registry file %s cannot be read (%s); it reads as empty and is not "
                         "written over\n",
                         path.c_str(), std::strerror(error));
        } else {
            std::fprintf(stderr,
                         "sinjo: registry file %s: %zu damaged line(s) skipped (first at line %zu); the "
                         "file is copied to %s.bad before it is next written\n",
                         path.c_str(), hive->badLines, hive->firstBadLine, path.c_str());
        }
    }
    st.path = path;
    st.sig = sig;
    st.readAtNs = now;
    st.hive = hive;
    return hive;
}

// Runs `change` on a fresh copy of the hive under the cross-process lock and writes the result when
// the change reports that it changed something. `change` returns the call's status.
template <typename Change>
LSTATUS ModifyHive(RegRoot root, Change&& change) {
    RootState& st = State(root);
    std::lock_guard<std::mutex> writer(st.writeMutex);
    const std::string path = RegHivePath(root);
    if (!EnsureFolder(FolderOf(path))) return ERROR_CANTWRITE;
    Fd lock(open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.get() < 0) return ERROR_CANTWRITE;
    while (flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) return ERROR_CANTWRITE;

    // Re-read under the lock: another process may have written a moment ago.
    const auto current = CurrentHive(root, path);
    if (current->unreadable) return ERROR_ACCESS_DENIED;
    auto next = std::make_shared<Hive>();
    next->keys = current->keys;
    bool changed = false;
    const LSTATUS status = change(next->keys, &changed);
    if (status != ERROR_SUCCESS || !changed) return status;

    if (current->badLines > 0 && !KeepBadCopy(path, current->raw)) return ERROR_CANTWRITE;
    Signature oldSig;
    {
        std::lock_guard<std::mutex> cache(st.cacheMutex);
        oldSig = st.sig;
    }
    const mode_t mode = oldSig.kind == Signature::File ? oldSig.mode : 0;
    const int64_t now = NowNs();
    Signature sig;
    if (!WriteHiveFile(path, SerializeHive(*next, root), mode, &sig)) return ERROR_CANTWRITE;
    std::lock_guard<std::mutex> cache(st.cacheMutex);
    st.path = path;
    st.sig = sig;
    st.readAtNs = now;
    st.hive = std::move(next);
    return ERROR_SUCCESS;
    // The flock is released when `lock` closes.
}

const Key* FindKey(const Hive& hive, std::wstring_view key) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return nullptr;
    const auto it = hive.keys.find(Fold(spelled));
    return it == hive.keys.end() ? nullptr : &it->second;
}

LSTATUS SetValues(RegRoot root, std::wstring_view key, std::vector<RegValue> values) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return ERROR_INVALID_PARAMETER;
    return ModifyHive(root, [&](KeyMap& keys, bool* changed) {
        Key& k = CreateKeyPath(keys, spelled, changed);
        for (RegValue& v : values)
            if (SetValue(k, std::move(v))) *changed = true;
        return ERROR_SUCCESS;
    });
}

}  // namespace

// -------------------------------------------------------------------------------------------------------
// Public functions

std::string RegHivePath(RegRoot root) {
    std::string folder = ProfileFolder();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + (root == RegRoot::CurrentUser ? "/user.reg" : "/classes.reg");
}

LSTATUS RegCreateKey(RegRoot root, std::wstring_view key) { return SetValues(root, key, {}); }

bool RegKeyExists(RegRoot root, std::wstring_view key) {
    const auto hive = CurrentHive(root, RegHivePath(root));
    return FindKey(*hive, key) != nullptr;
}

LSTATUS RegSetString(RegRoot root, std::wstring_view key, std::wstring_view name, std::wstring_view value) {
    RegValue v;
    v.name = name;
    v.type = REG_SZ;
    v.text = value;
    std::vector<RegValue> values;
    values.push_back(std::move(v));
    return SetValues(root, key, std::move(values));
}

LSTATUS RegSetDword(RegRoot root, std::wstring_view key, std::wstring_view name, uint32_t value) {
    RegValue v;
    v.name = name;
    v.type = REG_DWORD;
    v.dword = value;
    std::vector<RegValue> values;
    values.push_back(std::move(v));
    return SetValues(root, key, std::move(values));
}

LSTATUS RegSetStrings(RegRoot root, std::wstring_view key,
                      const std::vector<std::pair<std::wstring, std::wstring>>& values) {
    std::vector<RegValue> list;
    list.reserve(values.size());
    for (const auto& [name, text] : values) {
        RegValue v;
        v.name = name;
        v.type = REG_SZ;
        v.text = text;
        list.push_back(std::move(v));
    }
    return SetValues(root, key, std::move(list));
}

LSTATUS RegQueryValue(RegRoot root, std::wstring_view key, std::wstring_view name, RegValue* value) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return ERROR_INVALID_PARAMETER;
    const auto hive = CurrentHive(root, RegHivePath(root));
    const Key* k = FindKey(*hive, spelled);
    if (k == nullptr) return ERROR_FILE_NOT_FOUND;
    const RegValue* v = FindValue(*k, name);
    if (v == nullptr) return ERROR_FILE_NOT_FOUND;
    if (value != nullptr) *value = *v;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueBytes(RegRoot root, std::wstring_view key, std::wstring_view name, uint32_t* type,
                           std::vector<uint8_t>* data) {
    RegValue v;
    const LSTATUS status = RegQueryValue(root, key, name, &v);
    if (status != ERROR_SUCCESS) return status;
    if (type != nullptr) *type = v.type;
    if (data == nullptr) return ERROR_SUCCESS;
    data->clear();
    auto put16 = [data](uint32_t u) {
        data->push_back(static_cast<uint8_t>(u & 0xFF));
        data->push_back(static_cast<uint8_t>(u >> 8));
    };
    if (v.type == REG_DWORD) {
        put16(v.dword & 0xFFFF);
        put16(v.dword >> 16);
        return ERROR_SUCCESS;
    }
    for (wchar_t wc : v.text) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (!IsValidCodePoint(c)) c = 0xFFFD;
        if (c >= 0x10000) {
            c -= 0x10000;
            put16(0xD800 | (c >> 10));
            put16(0xDC00 | (c & 0x3FF));
        } else {
            put16(c);
        }
    }
    put16(0);
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteValue(RegRoot root, std::wstring_view key, std::wstring_view name) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return ERROR_INVALID_PARAMETER;
    return ModifyHive(root, [&](KeyMap& keys, bool* changed) {
        const auto it = keys.find(Fold(spelled));
        if (it == keys.end()) return ERROR_FILE_NOT_FOUND;
        if (!EraseValue(it->second, name)) return ERROR_FILE_NOT_FOUND;
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteTree(RegRoot root, std::wstring_view key) {
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return ERROR_INVALID_PARAMETER;
    return ModifyHive(root, [&](KeyMap& keys, bool* changed) {
        const std::wstring folded = Fold(spelled);
        if (folded.empty()) {
            // The root itself cannot go: it loses its values and all its subkeys.
            Key& rootKey = keys.at(std::wstring());
            *changed = keys.size() > 1 || !rootKey.values.empty();
            rootKey.values.clear();
            rootKey.index.clear();
            keys.erase(std::next(keys.begin()), keys.end());
            return ERROR_SUCCESS;
        }
        auto first = keys.find(folded);
        if (first == keys.end()) return ERROR_FILE_NOT_FOUND;
        const std::wstring prefix = folded + L'\\';
        auto last = std::next(first);
        while (last != keys.end() && last->first.compare(0, prefix.size(), prefix) == 0) ++last;
        keys.erase(first, last);
        *changed = true;
        return ERROR_SUCCESS;
    });
}

std::vector<std::wstring> RegEnumSubKeys(RegRoot root, std::wstring_view key) {
    std::vector<std::wstring> names;
    std::wstring spelled;
    if (!NormalizeKey(key, &spelled)) return names;
    const auto hive = CurrentHive(root, RegHivePath(root));
    const std::wstring folded = Fold(spelled);
    if (hive->keys.find(folded) == hive->keys.end()) return names;
    const std::wstring prefix = folded.empty() ? std::wstring() : folded + L'\\';
    for (auto it = hive->keys.upper_bound(folded); it != hive->keys.end(); ++it) {
        const std::wstring& path = it->first;
        if (path.compare(0, prefix.size(), prefix) != 0) break;
        if (path.find(L'\\', prefix.size()) != std::wstring::npos) continue;  // deeper down
        const std::wstring& full = it->second.path;
        const size_t slash = full.rfind(L'\\');
        names.push_back(slash == std::wstring::npos ? full : full.substr(slash + 1));
    }
    return names;
}

std::vector<RegValue> RegEnumValues(RegRoot root, std::wstring_view key) {
    const auto hive = CurrentHive(root, RegHivePath(root));
    const Key* k = FindKey(*hive, key);
    return k == nullptr ? std::vector<RegValue>() : k->values;
}

}  // namespace platform
