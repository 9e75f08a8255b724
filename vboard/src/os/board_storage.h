// The board's storage: the removable storage card and the NAND flash, as CE paths
// ("\Storage Card\...", "\NAND Flash\...") over memory or over the folders of a board folder.
// Folders inside a volume exist as soon as a file is put in them.
//
// Every file the board reads, writes, deletes or changes goes through this class, and on a
// board folder nothing it reaches lies outside the folder: no symbolic link beneath the folder
// is followed (host_folder.h). A link stands where the board sees nothing: reads find no file,
// searches skip it, and a write that would go through or over it is refused with
// ERROR_ACCESS_DENIED. The folder's own path, as the user gave it, may hold links.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "os/board.h"

namespace vboard {

constexpr DWORD kErrorSharingViolation = 32;
constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorBadDb = 1009;  // ERROR_BADDB: a hive file that can't be read
constexpr DWORD kErrorFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE: MAX_PATH or more

// A path on one of the board's volumes.
struct CePath {
    size_t volume = 0;               // 0 the storage card, 1 the flash
    std::vector<std::string> parts;  // below the volume, as given
    // The folded path, for comparisons: "storage card\save_hklm_reg.srg".
    std::string key() const;
};

struct StoredFile {
    std::string name;  // the last part, as stored
    Bytes data;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
};

// A file's directory entry: what a search or an existence check sees, without its contents.
struct FileInfo {
    std::string name;  // the last part, as stored
    uint64_t size = 0;
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
};

class BoardStorage {
public:
    explicit BoardStorage(std::string startFolder) : startFolder_(std::move(startFolder)) {}

    // A reset from the control API: back to the start folder (or to memory, emptied), the card
    // in and no problems. False when the start folder can't be used (then in memory).
    void coldStart();
    // Chooses the board folder ("" for memory); false, with the reason in the problems, when it
    // can't be made.
    bool useFolder(const std::string& folder);
    std::string folder() const;
    void setCard(bool inserted);
    bool card() const;

    // Parses a CE path. ERROR_FILENAME_EXCED_RANGE for MAX_PATH (260) UTF-16 characters or more,
    // or a name longer than a host folder can hold (255 bytes); ERROR_PATH_NOT_FOUND when it is
    // on no volume or on the card while it is out; ERROR_INVALID_NAME for "." or ".." parts and
    // characters no CE name holds (the wildcards * and ? are allowed in the last part of a
    // pattern).
    DWORD locate(const std::string& cePath, bool pattern, CePath& out) const;

    // The files themselves, with no attribute or lock check: that is the file calls' business.
    std::optional<StoredFile> get(const CePath& path) const;
    // A file's entry without reading it: for existence checks and searches.
    std::optional<FileInfo> stat(const CePath& path) const;
    // Writes a whole file; on a folder, into a temporary file (created exclusively, under a
    // name no one can guess) renamed into place.
    DWORD put(const CePath& path, const Bytes& data, DWORD attributes);
    DWORD erase(const CePath& path);
    DWORD setAttributes(const CePath& path, DWORD attributes);
    DWORD move(const CePath& from, const CePath& to);
    // The files of the pattern's folder whose names match its last part, in name order.
    std::vector<FileInfo> list(const CePath& pattern) const;
    // The file's name for a person: the host path on a folder, the CE path in memory.
    std::string describe(const CePath& path) const;

    // While the user hive is loaded its file is the registry's and refuses other writers.
    void setUserHiveLoaded(bool loaded);
    bool userHiveLoaded() const;

    void addProblem(const std::string& problem);
    std::vector<std::string> problems() const;

private:
    struct Place;
    // Where a path lies in the board folder; `create` makes the folders on the way.
    int reach(const CePath& path, bool create, Place& out) const;
    bool useFolderLocked(const std::string& folder);

    mutable std::mutex lock_;
    const std::string startFolder_;
    std::string folder_;
    bool card_ = true;
    bool userHiveLoaded_ = true;
    std::map<std::string, StoredFile> memory_;
    Window<std::string> problems_;
};

BoardStorage& boardStorage();
// The same without starting the board: for what runs while it starts (its power-on steps).
BoardStorage& installedStorage();

// Loads the registry from the hive files on the flash, first putting a staged system hive in
// place; a hive without a file, or whose file is refused, gets its defaults. Then the user hive
// is loaded again. Runs without the board's lock held.
void loadHives(Board& board, BoardStorage& storage);

// The storage with its power-on step and the "board" and "card" directives.
class SystemServices;
void installStorage(Board& board, SystemServices& services);

}  // namespace vboard
