// The board's storage: the removable storage card and the NAND flash, as CE paths
// ("\Storage Card\...", "\NAND Flash\...") over memory or over the folders of a board folder.
// Folders inside a volume exist as soon as a file is put in them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "board.h"

namespace vboard {

constexpr DWORD kErrorSharingViolation = 32;
constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorBadDb = 1009;  // ERROR_BADDB: a hive file that can't be read

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

    // Parses a CE path. ERROR_PATH_NOT_FOUND when it is on no volume or on the card while it is
    // out; ERROR_INVALID_NAME for "." or ".." parts and characters no CE name holds (the
    // wildcards * and ? are allowed in the last part of a pattern).
    DWORD locate(const std::string& cePath, bool pattern, CePath& out) const;

    // The files themselves, with no attribute or lock check: that is the file calls' business.
    std::optional<StoredFile> get(const CePath& path) const;
    // Writes a whole file; on a folder, into a temporary file renamed into place.
    DWORD put(const CePath& path, const Bytes& data, DWORD attributes);
    DWORD erase(const CePath& path);
    DWORD setAttributes(const CePath& path, DWORD attributes);
    DWORD move(const CePath& from, const CePath& to);
    // The files of the pattern's folder whose names match its last part, in name order.
    std::vector<StoredFile> list(const CePath& pattern) const;
    // The file's name for a person: the host path on a folder, the CE path in memory.
    std::string describe(const CePath& path) const;

    // While the user hive is loaded its file is the registry's and refuses other writers.
    void setUserHiveLoaded(bool loaded);
    bool userHiveLoaded() const;

    void addProblem(const std::string& problem);
    std::vector<std::string> problems() const;

private:
    std::filesystem::path hostPath(const CePath& path) const;
    bool useFolderLocked(const std::string& folder);

    mutable std::mutex lock_;
    const std::string startFolder_;
    std::string folder_;
    bool card_ = true;
    bool userHiveLoaded_ = true;
    std::map<std::string, StoredFile> memory_;
    Window<std::string> problems_;
    uint64_t temporaries_ = 0;
};

BoardStorage& boardStorage();

// Loads the registry from the hive files on the flash, first putting a staged system hive in
// place; a hive without a file, or whose file is refused, gets its defaults. Then the user hive
// is loaded again. Runs without the board's lock held.
void loadHives(Board& board, BoardStorage& storage);

// The storage with its power-on step and the "board" and "card" directives.
class SystemServices;
void installStorage(Board& board, SystemServices& services);

}  // namespace vboard
