// The board's storage over memory or a board folder, its power-on, and its control API.
#include "system/board_storage.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unistd.h>

#include "system/hive_file.h"
#include "system/system_registry.h"
#include "system/system_services.h"
#include "text.h"

namespace fs = std::filesystem;

namespace vboard {
namespace {

const char* const kVolumes[] = {"Storage Card", "NAND Flash"};
constexpr size_t kCard = 0;
const char* const kTemporaryPrefix = ".vboard-tmp-";

bool validPart(const std::string& part, bool wildcards) {
    if (part == "." || part == "..") return false;
    for (unsigned char c : part) {
        if (c < 0x20 || std::strchr("<>:\"|/", c) != nullptr) return false;
        if (!wildcards && (c == '*' || c == '?')) return false;
    }
    return true;
}

// Whether a name matches a pattern with * and ?, without regard to case.
bool matches(const std::string& pattern, const std::string& name) {
    const std::string p = fold(pattern), n = fold(name);
    size_t pi = 0, ni = 0, star = std::string::npos, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = ni;
        } else if (star != std::string::npos) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

std::string folderKey(const CePath& path) {
    std::string key = fold(kVolumes[path.volume]);
    for (size_t i = 0; i + 1 < path.parts.size(); ++i) key += "\\" + fold(path.parts[i]);
    return key;
}

// On a folder only the read-only attribute is kept, as the owner's write permission.
DWORD hostAttributes(const fs::path& file) {
    std::error_code error;
    const auto perms = fs::status(file, error).permissions();
    return (perms & fs::perms::owner_write) == fs::perms::none ? FILE_ATTRIBUTE_READONLY
                                                              : FILE_ATTRIBUTE_NORMAL;
}

void setHostAttributes(const fs::path& file, DWORD attributes) {
    std::error_code error;
    const auto writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        fs::permissions(file, writable, fs::perm_options::remove, error);
    else
        fs::permissions(file, fs::perms::owner_write, fs::perm_options::add, error);
}

std::optional<Bytes> readHostFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return data;
}

BoardStorage* installed = nullptr;

}  // namespace

std::string CePath::key() const {
    std::string key = fold(kVolumes[volume]);
    for (const std::string& part : parts) key += "\\" + fold(part);
    return key;
}

// ---- Choosing where the storage lives ----

void BoardStorage::coldStart() {
    std::lock_guard<std::mutex> hold(lock_);
    problems_.clear();
    memory_.clear();
    card_ = true;
    userHiveLoaded_ = true;
    if (!useFolderLocked(startFolder_)) folder_.clear();
}

bool BoardStorage::useFolderLocked(const std::string& folder) {
    if (!folder.empty()) {
        std::error_code error;
        for (const char* volume : kVolumes) {
            fs::create_directories(fs::path(folder) / volume, error);
            if (error) {
                const std::string problem =
                    "board folder " + folder + ": cannot make it: " + error.message();
                std::fprintf(stderr, "vboard: %s\n", problem.c_str());
                problems_.push(std::string(problem), kDefaultRecordLimit);
                return false;
            }
        }
    }
    folder_ = folder;
    memory_.clear();
    return true;
}

bool BoardStorage::useFolder(const std::string& folder) {
    std::lock_guard<std::mutex> hold(lock_);
    return useFolderLocked(folder);
}

std::string BoardStorage::folder() const {
    std::lock_guard<std::mutex> hold(lock_);
    return folder_;
}

void BoardStorage::setCard(bool inserted) {
    std::lock_guard<std::mutex> hold(lock_);
    card_ = inserted;
}

bool BoardStorage::card() const {
    std::lock_guard<std::mutex> hold(lock_);
    return card_;
}

void BoardStorage::setUserHiveLoaded(bool loaded) {
    std::lock_guard<std::mutex> hold(lock_);
    userHiveLoaded_ = loaded;
}

bool BoardStorage::userHiveLoaded() const {
    std::lock_guard<std::mutex> hold(lock_);
    return userHiveLoaded_;
}

void BoardStorage::addProblem(const std::string& problem) {
    std::fprintf(stderr, "vboard: %s\n", problem.c_str());
    std::lock_guard<std::mutex> hold(lock_);
    problems_.push(std::string(problem), kDefaultRecordLimit);
}

std::vector<std::string> BoardStorage::problems() const {
    std::lock_guard<std::mutex> hold(lock_);
    return problems_.items();
}

// ---- Paths ----

DWORD BoardStorage::locate(const std::string& text, bool pattern, CePath& out) const {
    if (text.empty() || text[0] != '\\') return static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    std::vector<std::string> parts;
    size_t start = 1;
    while (start <= text.size()) {
        size_t end = text.find('\\', start);
        if (end == std::string::npos) end = text.size();
        if (end == start) return kErrorInvalidName;  // "\\" or a trailing backslash
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (parts.size() < 2) return static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    size_t volume = 0;
    while (volume < 2 && fold(parts[0]) != fold(kVolumes[volume])) ++volume;
    if (volume == 2) return static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    for (size_t i = 1; i < parts.size(); ++i)
        if (!validPart(parts[i], pattern && i + 1 == parts.size())) return kErrorInvalidName;
    {
        std::lock_guard<std::mutex> hold(lock_);
        // No card, no "\Storage Card" folder.
        if (volume == kCard && !card_) return static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    }
    out.volume = volume;
    out.parts.assign(parts.begin() + 1, parts.end());
    return ERROR_SUCCESS;
}

// The host path of a CE path; each part that exists in another case is taken as it exists,
// since CE names compare without regard to case.
fs::path BoardStorage::hostPath(const CePath& path) const {
    fs::path host = fs::path(folder_) / kVolumes[path.volume];
    for (const std::string& part : path.parts) {
        fs::path next = host / part;
        std::error_code error;
        if (!fs::exists(next, error) && fs::is_directory(host, error)) {
            for (const auto& entry : fs::directory_iterator(host, error))
                if (fold(entry.path().filename().string()) == fold(part)) {
                    next = entry.path();
                    break;
                }
        }
        host = next;
    }
    return host;
}

std::string BoardStorage::describe(const CePath& path) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (!folder_.empty()) return hostPath(path).string();
    std::string text = std::string("\\") + kVolumes[path.volume];
    for (const std::string& part : path.parts) text += "\\" + part;
    return text;
}

// ---- Files ----

std::optional<StoredFile> BoardStorage::get(const CePath& path) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (folder_.empty()) {
        auto it = memory_.find(path.key());
        if (it == memory_.end()) return std::nullopt;
        return it->second;
    }
    const fs::path host = hostPath(path);
    std::error_code error;
    if (!fs::is_regular_file(host, error)) return std::nullopt;
    auto data = readHostFile(host);
    if (!data) return std::nullopt;
    return StoredFile{host.filename().string(), std::move(*data), hostAttributes(host)};
}

DWORD BoardStorage::put(const CePath& path, const Bytes& data, DWORD attributes) {
    std::lock_guard<std::mutex> hold(lock_);
    if (folder_.empty()) {
        memory_[path.key()] = StoredFile{path.parts.back(), data, attributes};
        return ERROR_SUCCESS;
    }
    // A crash mid-write leaves the old file or the new one, never half of one.
    const fs::path host = hostPath(path);
    std::error_code error;
    fs::create_directories(host.parent_path(), error);
    const fs::path temporary =
        host.parent_path() / (kTemporaryPrefix + std::to_string(::getpid()) + "-" +
                              std::to_string(++temporaries_));
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        out.flush();
        if (!out) {
            fs::remove(temporary, error);
            return kErrorWriteFault;
        }
    }
    setHostAttributes(temporary, attributes);
    fs::rename(temporary, host, error);
    if (error) {
        fs::remove(temporary, error);
        return kErrorWriteFault;
    }
    return ERROR_SUCCESS;
}

DWORD BoardStorage::erase(const CePath& path) {
    std::lock_guard<std::mutex> hold(lock_);
    if (folder_.empty())
        return memory_.erase(path.key()) ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    std::error_code error;
    const fs::path host = hostPath(path);
    if (!fs::is_regular_file(host, error)) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    return fs::remove(host, error) ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_ACCESS_DENIED);
}

DWORD BoardStorage::setAttributes(const CePath& path, DWORD attributes) {
    std::lock_guard<std::mutex> hold(lock_);
    if (folder_.empty()) {
        auto it = memory_.find(path.key());
        if (it == memory_.end()) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        it->second.attributes = attributes;
        return ERROR_SUCCESS;
    }
    std::error_code error;
    const fs::path host = hostPath(path);
    if (!fs::is_regular_file(host, error)) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    setHostAttributes(host, attributes);
    return ERROR_SUCCESS;
}

DWORD BoardStorage::move(const CePath& from, const CePath& to) {
    std::unique_lock<std::mutex> hold(lock_);
    if (folder_.empty()) {
        auto it = memory_.find(from.key());
        if (it == memory_.end()) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        StoredFile file = std::move(it->second);
        memory_.erase(it);
        file.name = to.parts.back();
        memory_[to.key()] = std::move(file);
        return ERROR_SUCCESS;
    }
    std::error_code error;
    const fs::path source = hostPath(from);
    const fs::path target = hostPath(to);
    if (!fs::is_regular_file(source, error)) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    fs::create_directories(target.parent_path(), error);
    fs::rename(source, target, error);  // both volumes live in one board folder
    return error ? kErrorWriteFault : ERROR_SUCCESS;
}

std::vector<StoredFile> BoardStorage::list(const CePath& pattern) const {
    std::vector<StoredFile> found;
    const std::string& wanted = pattern.parts.back();
    std::lock_guard<std::mutex> hold(lock_);
    if (folder_.empty()) {
        const std::string folder = folderKey(pattern);
        for (const auto& entry : memory_) {
            const size_t slash = entry.first.rfind('\\');
            if (entry.first.compare(0, slash, folder) == 0 && slash == folder.size() &&
                matches(wanted, entry.second.name))
                found.push_back(entry.second);
        }
        return found;
    }
    CePath folder = pattern;
    folder.parts.pop_back();
    const fs::path host = hostPath(folder);
    std::error_code error;
    if (!fs::is_directory(host, error)) return found;
    for (const auto& entry : fs::directory_iterator(host, error)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file(error) || name.rfind(kTemporaryPrefix, 0) == 0 ||
            !matches(wanted, name))
            continue;
        auto data = readHostFile(entry.path());
        found.push_back(StoredFile{name, data ? *data : Bytes{}, hostAttributes(entry.path())});
    }
    std::sort(found.begin(), found.end(),
              [](const StoredFile& a, const StoredFile& b) { return fold(a.name) < fold(b.name); });
    return found;
}

// ---- The hives on the flash ----

void loadHives(Board& b, BoardStorage& storage) {
    CePath system, user;
    storage.locate(kSystemHivePath, false, system);
    storage.locate(kUserHivePath, false, user);
    // A system hive staged by RegReplaceKeyW takes the old one's place at this start.
    takeStagedSystemHive(storage);
    struct Hive {
        HKEY root;
        const CePath& file;
    };
    for (const Hive& hive : {Hive{HKEY_LOCAL_MACHINE, system}, Hive{HKEY_CURRENT_USER, user}}) {
        auto file = storage.get(hive.file);
        RegistryKey loaded;
        std::string problem;
        const bool usable = file && parseHive(file->data, hiveRootName(hive.root), loaded, problem);
        if (file && !usable)
            storage.addProblem(storage.describe(hive.file) + ": " + problem +
                               "; the hive starts from its defaults");
        std::lock_guard<std::mutex> hold(b.lock);
        if (usable)
            replaceHive(b.registry, hive.root, loaded);
        else
            defaultHive(b.registry, hive.root);
    }
    storage.setUserHiveLoaded(true);
}

// ---- Installation and control API ----

void installStorage(Board& board, SystemServices& services) {
    const char* start = std::getenv("VBOARD_DIR");
    installed = new BoardStorage(start != nullptr ? start : "");  // like the board, never destroyed
    BoardStorage* storage = installed;
    SystemServices* system = &services;
    board.powerOnSteps.push_back([storage, system](Board& b) {
        // A restart keeps the files; a reset from the control API starts the storage afresh.
        if (!system->restarting) storage->coldStart();
        loadHives(b, *storage);
    });
    Board* target = &board;
    board.addDirective(Directive{
        "board", "board <folder>",
        [storage, target](const std::vector<std::string>& words, const std::string& rest) -> std::string {
            if (words.size() < 2) return "expected: board <folder>";
            if (!storage->useFolder(rest)) return "cannot use the board folder '" + rest + "'";
            loadHives(*target, *storage);
            return "";
        }});
    board.addDirective(Directive{
        "card", "card in|out",
        [storage](const std::vector<std::string>& words, const std::string&) -> std::string {
            if (words.size() != 2 || (words[1] != "in" && words[1] != "out")) return "expected: card in|out";
            storage->setCard(words[1] == "in");
            return "";
        }});
}

BoardStorage& boardStorage() {
    board();
    return *installed;
}

bool setBoardFolder(const std::string& folder) {
    BoardStorage& storage = boardStorage();
    if (!storage.useFolder(folder)) return false;
    loadHives(board(), storage);
    return true;
}

std::string boardFolder() { return boardStorage().folder(); }
void setStorageCard(bool inserted) { boardStorage().setCard(inserted); }
bool storageCardInserted() { return boardStorage().card(); }

std::optional<std::vector<uint8_t>> readBoardFile(const std::string& cePath) {
    BoardStorage& storage = boardStorage();
    CePath path;
    if (storage.locate(cePath, false, path) != ERROR_SUCCESS) return std::nullopt;
    auto file = storage.get(path);
    if (!file) return std::nullopt;
    return file->data;
}

bool writeBoardFile(const std::string& cePath, const std::vector<uint8_t>& data) {
    BoardStorage& storage = boardStorage();
    CePath path;
    return storage.locate(cePath, false, path) == ERROR_SUCCESS &&
           storage.put(path, data, FILE_ATTRIBUTE_NORMAL) == ERROR_SUCCESS;
}

bool boardFileExists(const std::string& cePath) { return readBoardFile(cePath).has_value(); }

std::string hiveText(HKEY root) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    auto top = b.registry.root(root);
    return top ? writeHive(*top, hiveRootName(root)) : std::string();
}

std::vector<std::string> storageProblems() { return boardStorage().problems(); }

}  // namespace vboard
