#include "library/FileEnumerater.h"

#include "platform/FileSystem.h"

namespace nutl {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

// Written once for the template; only the std::wstring instantiation below exists, because the platform
// functions take wide path text.
template <class T>
T FileEnumerater<T>::JoinPath(const T& first, const T& second) {
    if (first.empty()) return second;
    if (second.empty()) return first;
    if (!IsSeparator(first.back()) && !IsSeparator(second.front())) return first + L'\\' + second;
    return first + second;
}

template <class T>
void FileEnumerater<T>::Run() {
    if (roots == nullptr) return;
    const bool outermost = !m_running;
    if (outermost) {
        m_running = true;
        m_entered.clear();
    }
    for (const T& root : *roots) {
        if (stop) break;
        if (root.empty()) continue;
        platform::FileInfo info;
        if (!platform::GetFileInfo(root, &info)) continue;  // names nothing: skipped silently
        if (info.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) {
            EnumDirectory(root);
        } else {
            OnFile(root, static_cast<uint32_t>(info.size), info.attributes, info.creationTime,
                   info.accessTime, info.writeTime);
        }
    }
    if (outermost) {
        m_running = false;
        m_entered.clear();
    }
}

template <class T>
void FileEnumerater<T>::OnEnterDirectory(const T&) {}

template <class T>
void FileEnumerater<T>::OnUnsafeName(const T&, const T&, bool, uint64_t) {}

template <class T>
bool FileEnumerater<T>::EnumDirectory(const T& dir) {
    if (m_depth == 0 && !m_running) m_entered.clear();

    // Remember the directory by what it resolves to; a second way into it (a link loop) ends here.
    platform::FileInfo self;
    if (platform::GetFileInfo(dir, &self) && (self.device != 0 || self.inode != 0)) {
        if (!m_entered.insert({self.device, self.inode}).second) return false;
    }

    OnEnterDirectory(dir);
    std::vector<platform::FileInfo> entries;
    if (!platform::ListDirectory(dir, &entries)) return false;

    ++m_depth;
    for (const platform::FileInfo& entry : entries) {
        if (stop) break;
        if (entry.name == L"." || entry.name == L"..") continue;
        // Path text reads "\\" as a separator, so a name on disk that holds one ("..\\..", made on
        // purpose or by a copy from another system) would lead the walk out of this folder.
        if (entry.name.find(L'\\') != std::wstring::npos) {
            OnUnsafeName(dir, entry.name, (entry.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0,
                         entry.writeTime);
            continue;
        }
        const T full = JoinPath(dir, entry.name);
        if (!(entry.attributes & platform::FILE_ATTRIBUTE_DIRECTORY)) {
            OnFile(full, static_cast<uint32_t>(entry.size), entry.attributes, entry.creationTime,
                   entry.accessTime, entry.writeTime);
        } else if (recursive) {
            EnumDirectory(full);
        }
    }
    --m_depth;
    return true;
}

template class FileEnumerater<std::wstring>;

}  // namespace nutl

void FileFinder2::OnFile(const std::wstring& path, uint32_t, uint32_t, uint64_t, uint64_t,
                         uint64_t write_time) {
    if (results == nullptr) return;
    const size_t slash = path.find_last_of(L"\\/");
    results->push_back(FoundFile{path, write_time, slash == std::wstring::npos ? path : path.substr(slash + 1), false});
}

void FileFinder2::OnUnsafeName(const std::wstring& dir, const std::wstring& name, bool is_directory,
                               uint64_t write_time) {
    if (results != nullptr && !is_directory) results->push_back(FoundFile{JoinPath(dir, name), write_time, name, true});
}

void FindFiles(const std::wstring& dir, bool recursive, std::vector<FoundFile>* results) {
    std::vector<std::wstring> roots{dir};
    FileFinder2 finder(&roots, recursive, results);
    finder.Run();
}
