// The board's storage over memory or a board folder, its power-on, and its control API.
#include "os/board_storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "os/hive_file.h"
#include "os/host_folder.h"
#include "os/registry_defaults.h"
#include "os/system_services.h"
#include "os/text.h"

namespace vboard {
namespace {

const char* const kVolumes[] = {"Storage Card", "NAND Flash"};
constexpr size_t kCard = 0;
// The board's temporary files: this prefix and random hex digits (earlier boards used a process
// number and a count). A crash can leave one behind; the next start removes it.
const char* const kTemporaryPrefix = ".vboard-tmp-";
// The longest name a host folder holds, in bytes.
constexpr size_t kHostNameLimit = 255;
// No CE path of fewer than MAX_PATH characters reaches deeper than this below a volume.
constexpr int kDeepestFolder = MAX_PATH / 2;
// Links named at one start, at most; the rest are counted.
constexpr size_t kLinksNamed = 8;

bool validPart(const std::string& part, bool wildcards) {
    if (part == "." || part == "..") return false;
    for (unsigned char c : part) {
        if (c < 0x20 || std::strchr("<>:\"|/", c) != nullptr) return false;
        if (!wildcards && (c == '*' || c == '?')) return false;
    }
    return true;
}

// The UTF-16 characters a UTF-8 text takes, as CE counts a path's length.
size_t utf16Length(const std::string& text) {
    size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++units;
        if (c >= 0xF0) ++units;  // a surrogate pair
    }
    return units;
}

bool isTemporary(const std::string& name) {
    const size_t prefix = std::strlen(kTemporaryPrefix);
    return name.size() > prefix && name.compare(0, prefix, kTemporaryPrefix) == 0 &&
           name.find_first_not_of("0123456789abcdef-", prefix) == std::string::npos;
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
DWORD hostAttributes(mode_t mode) {
    return (mode & S_IWUSR) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

mode_t hostMode(mode_t mode, DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_READONLY) ? mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)
                                                  : mode | S_IWUSR;
}

bool setHostAttributes(int fd, DWORD attributes) {
    struct stat info;
    return ::fstat(fd, &info) == 0 && ::fchmod(fd, hostMode(info.st_mode & 07777, attributes)) == 0;
}

std::optional<Bytes> readAll(int fd) {
    Bytes data;
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return data;
        data.insert(data.end(), chunk, chunk + n);
    }
}

host::Fd openFolder(const std::string& folder) {
    // The folder's own path is the user's: it is followed as given.
    return host::Fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Removes the board's stale temporary files beneath a folder and names the links found there,
// down to the deepest folder a CE path reaches.
void sweep(int folder, const std::string& hostPath, int depth, std::vector<std::string>& links,
           size_t& linkCount) {
    for (const std::string& name : host::entries(folder)) {
        struct stat info;
        if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISLNK(info.st_mode)) {
            if (links.size() < kLinksNamed) links.push_back(hostPath + "/" + name);
            ++linkCount;
        } else if (S_ISREG(info.st_mode) && isTemporary(name)) {
            ::unlinkat(folder, name.c_str(), 0);
        } else if (S_ISDIR(info.st_mode) && depth < kDeepestFolder) {
            host::Fd inner = host::openIn(folder, name, O_PATH | O_DIRECTORY);
            if (inner.valid()) sweep(inner.get(), hostPath + "/" + name, depth + 1, links, linkCount);
        }
    }
}

BoardStorage* installed = nullptr;

// How far a path could be followed into the board folder.
enum Reached {
    kReached,  // its folder is open; its entry may or may not exist
    kMissing,  // a folder on the way is not there
    kLink,     // a folder on the way is a link, which the board does not follow
    kBlocked,  // something else is in a folder's place, or the host refused
};

}  // namespace

// A path's place in the board folder: its folder's descriptor, its entry's name as the host
// spells it (the given name when there is none), and the entry itself.
struct BoardStorage::Place {
    host::Fd folder;
    std::string name;
    bool exists = false;
    struct stat info {};
    std::string hostPath;  // for messages: the names as far as they exist
    bool regular() const { return exists && S_ISREG(info.st_mode); }
    // A link or a device, a pipe or a socket: nothing the board writes over.
    bool foreign() const { return exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode); }
};

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
    auto refuse = [&](const std::string& why) {
        const std::string problem = "board folder " + folder + ": " + why;
        std::fprintf(stderr, "vboard: %s\n", problem.c_str());
        problems_.push(std::string(problem), kDefaultRecordLimit);
        return false;
    };
    if (!folder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        host::Fd root = openFolder(folder);
        if (!root.valid())
            return refuse("cannot make it: " +
                          (error ? error.message() : std::string(std::strerror(errno))));
        // The volumes are made beneath the folder; one that is a link is not followed, and a
        // board whose card or flash is elsewhere is no board to use.
        for (const char* volume : kVolumes) {
            if (::mkdirat(root.get(), volume, 0777) != 0 && errno != EEXIST)
                return refuse(std::string("cannot make it: ") + std::strerror(errno));
            struct stat info;
            if (::fstatat(root.get(), volume, &info, AT_SYMLINK_NOFOLLOW) != 0)
                return refuse(std::string("cannot make it: ") + std::strerror(errno));
            if (S_ISLNK(info.st_mode))
                return refuse(std::string("'") + volume +
                              "' is a symbolic link, which the board does not follow");
            if (!S_ISDIR(info.st_mode))
                return refuse(std::string("cannot make it: '") + volume + "' is not a folder");
        }
        std::vector<std::string> links;
        size_t linkCount = 0;
        for (const char* volume : kVolumes) {
            host::Fd inner = host::openIn(root.get(), volume, O_PATH | O_DIRECTORY);
            if (inner.valid()) sweep(inner.get(), folder + "/" + volume, 0, links, linkCount);
        }
        // The parts' images sit at the top, beside the volumes: so may a temporary one of theirs.
        for (const std::string& name : host::entries(root.get())) {
            struct stat info;
            if (isTemporary(name) && ::fstatat(root.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(info.st_mode))
                ::unlinkat(root.get(), name.c_str(), 0);
        }
        for (const std::string& link : links) {
            const std::string problem = link + ": a symbolic link, which the board does not follow";
            std::fprintf(stderr, "vboard: %s\n", problem.c_str());
            problems_.push(std::string(problem), kDefaultRecordLimit);
        }
        if (linkCount > links.size()) {
            const std::string problem = "board folder " + folder + ": " +
                                        std::to_string(linkCount - links.size()) +
                                        " more symbolic links, which the board does not follow";
            std::fprintf(stderr, "vboard: %s\n", problem.c_str());
            problems_.push(std::string(problem), kDefaultRecordLimit);
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
    if (utf16Length(text) >= MAX_PATH) return kErrorFilenameTooLong;
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
    for (size_t i = 1; i < parts.size(); ++i) {
        if (!validPart(parts[i], pattern && i + 1 == parts.size())) return kErrorInvalidName;
        if (parts[i].size() > kHostNameLimit) return kErrorFilenameTooLong;
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        // No card, no "\Storage Card" folder.
        if (volume == kCard && !card_) return static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    }
    out.volume = volume;
    out.parts.assign(parts.begin() + 1, parts.end());
    return ERROR_SUCCESS;
}

// Walks from the board folder to the path's folder, one name at a time, each name taken as it
// exists in another case (CE names compare without regard to case) and none through a link.
int BoardStorage::reach(const CePath& path, bool create, Place& out) const {
    host::Fd folder = openFolder(folder_);
    if (!folder.valid() && create) {
        // A board folder removed while in use is made again, as the first write made it.
        std::error_code error;
        std::filesystem::create_directories(folder_, error);
        folder = openFolder(folder_);
    }
    if (!folder.valid()) return kMissing;
    out.hostPath = folder_;
    std::vector<std::string> names = {kVolumes[path.volume]};
    names.insert(names.end(), path.parts.begin(), path.parts.end() - 1);
    for (const std::string& name : names) {
        std::string found;
        struct stat info;
        if (!host::findEntry(folder.get(), name, found, info)) {
            if (!create) return kMissing;
            if (::mkdirat(folder.get(), name.c_str(), 0777) != 0 && errno != EEXIST) return kBlocked;
            found = name;
        } else if (S_ISLNK(info.st_mode)) {
            return kLink;
        } else if (!S_ISDIR(info.st_mode)) {
            return kBlocked;
        }
        host::Fd inner = host::openIn(folder.get(), found, O_PATH | O_DIRECTORY);
        // A folder that became a link since it was looked at is a link all the same.
        if (!inner.valid()) return errno == ELOOP || errno == ENOTDIR ? kLink : kBlocked;
        folder = std::move(inner);
        out.hostPath += "/" + found;
    }
    out.folder = std::move(folder);
    // A pattern's last part names no entry (no file name holds * or ?).
    out.exists = path.parts.back().find_first_of("*?") == std::string::npos &&
                 host::findEntry(out.folder.get(), path.parts.back(), out.name, out.info);
    if (!out.exists) out.name = path.parts.back();
    return kReached;
}

std::string BoardStorage::describe(const CePath& path) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (!folder_.empty()) {
        Place place;
        if (reach(path, false, place) == kReached) return place.hostPath + "/" + place.name;
        std::string text = folder_ + "/" + kVolumes[path.volume];
        for (const std::string& part : path.parts) text += "/" + part;
        return text;
    }
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
    Place place;
    if (reach(path, false, place) != kReached || !place.regular()) return std::nullopt;
    // Not blocking: should a pipe take the file's place meanwhile, the open does not wait for it.
    host::Fd file = host::openIn(place.folder.get(), place.name, O_RDONLY | O_NONBLOCK);
    struct stat info;
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    auto data = readAll(file.get());
    if (!data) return std::nullopt;
    return StoredFile{place.name, std::move(*data), hostAttributes(info.st_mode)};
}

std::optional<FileInfo> BoardStorage::stat(const CePath& path) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (folder_.empty()) {
        auto it = memory_.find(path.key());
        if (it == memory_.end()) return std::nullopt;
        return FileInfo{it->second.name, it->second.data.size(), it->second.attributes};
    }
    Place place;
    if (reach(path, false, place) != kReached || !place.regular()) return std::nullopt;
    return FileInfo{place.name, static_cast<uint64_t>(place.info.st_size), hostAttributes(place.info.st_mode)};
}

DWORD BoardStorage::put(const CePath& path, const Bytes& data, DWORD attributes) {
    std::lock_guard<std::mutex> hold(lock_);
    if (folder_.empty()) {
        memory_[path.key()] = StoredFile{path.parts.back(), data, attributes};
        return ERROR_SUCCESS;
    }
    Place place;
    const int reached = reach(path, true, place);
    if (reached == kLink || place.foreign()) return static_cast<DWORD>(ERROR_ACCESS_DENIED);
    if (reached != kReached) return kErrorWriteFault;
    // A crash mid-write leaves the old file or the new one, never half of one. The temporary
    // file is made new (O_EXCL) under a name no one can guess, so nothing planted beforehand
    // can take the write elsewhere.
    const int folder = place.folder.get();
    std::string temporary;
    host::Fd out;
    for (int attempt = 0; attempt < 8 && !out.valid(); ++attempt) {
        temporary = host::temporaryName(kTemporaryPrefix);
        out = host::openIn(folder, temporary, O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (!out.valid() && errno != EEXIST) break;
    }
    if (!out.valid()) return kErrorWriteFault;
    const bool written = host::writeAll(out.get(), data.data(), data.size()) && setHostAttributes(out.get(), attributes) &&
                         ::close(out.release()) == 0;
    if (!written || ::renameat(folder, temporary.c_str(), folder, place.name.c_str()) != 0) {
        ::unlinkat(folder, temporary.c_str(), 0);
        return kErrorWriteFault;
    }
    return ERROR_SUCCESS;
}

DWORD BoardStorage::erase(const CePath& path) {
    std::lock_guard<std::mutex> hold(lock_);
    if (folder_.empty())
        return memory_.erase(path.key()) ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    Place place;
    if (reach(path, false, place) != kReached || !place.regular())
        return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    return ::unlinkat(place.folder.get(), place.name.c_str(), 0) == 0 ? ERROR_SUCCESS
                                                                       : static_cast<DWORD>(ERROR_ACCESS_DENIED);
}

DWORD BoardStorage::setAttributes(const CePath& path, DWORD attributes) {
    std::lock_guard<std::mutex> hold(lock_);
    if (folder_.empty()) {
        auto it = memory_.find(path.key());
        if (it == memory_.end()) return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
        it->second.attributes = attributes;
        return ERROR_SUCCESS;
    }
    Place place;
    if (reach(path, false, place) != kReached || !place.regular())
        return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    // Changed through a descriptor of the file itself, never through a name that could be
    // swapped for a link in between.
    host::Fd file = host::openIn(place.folder.get(), place.name, O_RDONLY | O_NONBLOCK);
    struct stat info;
    if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return static_cast<DWORD>(ERROR_ACCESS_DENIED);
    return setHostAttributes(file.get(), attributes) ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_ACCESS_DENIED);
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
    Place source, target;
    if (reach(from, false, source) != kReached || !source.regular())
        return static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
    const int reached = reach(to, true, target);
    if (reached == kLink || target.foreign()) return static_cast<DWORD>(ERROR_ACCESS_DENIED);
    if (reached != kReached) return kErrorWriteFault;
    // Both volumes live in one board folder.
    return ::renameat(source.folder.get(), source.name.c_str(), target.folder.get(), target.name.c_str()) == 0
               ? ERROR_SUCCESS
               : kErrorWriteFault;
}

std::vector<FileInfo> BoardStorage::list(const CePath& pattern) const {
    std::vector<FileInfo> found;
    const std::string& wanted = pattern.parts.back();
    std::lock_guard<std::mutex> hold(lock_);
    if (folder_.empty()) {
        const std::string folder = folderKey(pattern);
        for (const auto& entry : memory_) {
            const size_t slash = entry.first.rfind('\\');
            if (entry.first.compare(0, slash, folder) == 0 && slash == folder.size() &&
                matches(wanted, entry.second.name))
                found.push_back(FileInfo{entry.second.name, entry.second.data.size(), entry.second.attributes});
        }
        return found;
    }
    // The directory entries only: a search never opens, let alone reads, the files it finds.
    Place place;
    if (reach(pattern, false, place) != kReached) return found;
    for (const std::string& name : host::entries(place.folder.get())) {
        struct stat info;
        if (isTemporary(name) || !matches(wanted, name) ||
            ::fstatat(place.folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        found.push_back(FileInfo{name, static_cast<uint64_t>(info.st_size), hostAttributes(info.st_mode)});
    }
    std::sort(found.begin(), found.end(),
              [](const FileInfo& a, const FileInfo& b) { return fold(a.name) < fold(b.name); });
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
    Board* target = &board;
    board.powerOnSteps.push_back([storage, system, target](Host&) {
        // A restart keeps the files; a reset from the control API starts the storage afresh.
        if (!system->restarting) storage->coldStart();
        loadHives(*target, *storage);
        for (const auto& step : target->folderSteps) step();
    });
    board.addDirective(Directive{
        "board", "board <folder>",
        [storage, target](const std::vector<std::string>& words, const std::string& rest) -> std::string {
            if (words.size() < 2) return "expected: board <folder>";
            const std::string folder = configValue(rest, 0);
            if (!storage->useFolder(folder)) return "cannot use the board folder '" + folder + "'";
            loadHives(*target, *storage);
            for (const auto& step : target->folderSteps) step();
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

BoardStorage& installedStorage() { return *installed; }

bool setBoardFolder(const std::string& folder) {
    BoardStorage& storage = boardStorage();
    if (!storage.useFolder(folder)) return false;
    loadHives(board(), storage);
    for (const auto& step : board().folderSteps) step();
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

bool boardFileExists(const std::string& cePath) {
    BoardStorage& storage = boardStorage();
    CePath path;
    return storage.locate(cePath, false, path) == ERROR_SUCCESS && storage.stat(path).has_value();
}

std::vector<BoardFileEntry> listBoardFiles(const std::string& cePattern) {
    BoardStorage& storage = boardStorage();
    CePath pattern;
    std::vector<BoardFileEntry> files;
    if (storage.locate(cePattern, true, pattern) != ERROR_SUCCESS) return files;
    for (const FileInfo& file : storage.list(pattern)) files.push_back(BoardFileEntry{file.name, file.size});
    return files;
}

std::string hiveText(HKEY root) {
    Board& b = board();
    std::lock_guard<std::mutex> hold(b.lock);
    auto top = b.registry.root(root);
    return top ? writeHive(*top, hiveRootName(root)) : std::string();
}

std::vector<std::string> storageProblems() { return boardStorage().problems(); }

}  // namespace vboard
