// The virtual board's system services: the physical-access drivers "PHY1:" to "PHY9:", the
// backlight "BKL1:", the module reset "IOC1:", the kernel's debug-link power and touch
// calibration, and the board's storage: the storage card, the NAND flash and the registry hives
// kept on it.
//
// Storage. The CE paths "\Storage Card\..." and "\NAND Flash\..." are the board's two volumes.
// Without a board folder they live in memory and start empty at every reset, so each process
// (and each test) starts fresh. With one, chosen by VBOARD_DIR, the directive `board <folder>` or
// setBoardFolder(), they are the folders "Storage Card" and "NAND Flash" inside it, and the board
// keeps its state from one program to the next. Every write into the folder goes to a temporary
// file that is then renamed into place, so a crash never leaves half a file.
//
// Registry hives. RegFlushKey writes a hive through to its file on the flash (kSystemHivePath,
// kUserHivePath); a power-on or a restart loads the registry from those files, or from the
// defaults where there is none. Changes that were never flushed are lost at a restart, as on the
// device. RegSaveKeyW writes a hive file (it refuses to overwrite one); RegReplaceKeyW checks a
// hive file and moves it aside for the system hive to be replaced at the next restart;
// SetCurrentUser with no name unloads the user hive, whose file is locked while it is loaded.
// The registry's own files (the system hive, its staged file, and the user hive while it is
// loaded) refuse every other writer, RegSaveKeyW and RegReplaceKeyW included, with
// ERROR_SHARING_VIOLATION. The files are in the text format of the Windows registry editor
// ("Windows Registry Editor Version 5.00", UTF-8 or UTF-16 with its byte-order mark), so a person
// can read and edit them. A hive file that cannot be parsed, or that breaks the registry's limits
// (see vboard.h), is refused whole, with its file, line and reason (see storageProblems()), and
// that hive starts from its defaults.
//
// Reset. A reset request on "IOC1:" restarts the board: every handle is closed, the devices
// return to their power-on state, a staged system hive takes the place of the old one and the
// registry is loaded from the hives. A staged hive that can no longer be used (changed on the
// flash since RegReplaceKeyW took it) does not: the system hive is kept, and the staged file is
// set aside as kRefusedSystemHivePath for a person to look at. What the board records (trace,
// debug lines, faults) is kept across the restart, as an analyser on the bench stays attached. On
// the device the calling process ends with it; on the board that is setEndProcessOnReset(true),
// off by default so that tests go on after the request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tarvik_platform.h"

namespace vboard {

// ---- Physical access: "PHY1:" to "PHY9:", one sparse 32-bit address space ----

constexpr int kPhysicalAccessDevices = 9;

// Registers that read their i.MX6 reset values at power-on; every other address reads 0 until
// written. Accesses are 8, 16 or 32 bits wide and aligned to their width. Directive:
// `phy <address> 8|16|32 <value>` sets a register.
constexpr uint32_t kCcmCcr = 0x020C4000;         // CCM_CCR: 0x040116FF
constexpr uint32_t kAnatopDigprog = 0x020C8260;  // USB_ANALOG_DIGPROG: 0x00630002 (i.MX6 Quad,
                                                 // silicon revision 1.2); read-only
constexpr uint32_t kSrcScr = 0x020D8000;         // SRC_SCR: 0x00000521
constexpr uint32_t kWdog1Wcr = 0x020BC000;       // WDOG1_WCR, 16 bits: 0x0030

struct PhysicalAccess {
    int device = 0;  // 1 for "PHY1:"
    bool write = false;
    uint32_t address = 0;
    unsigned width = 0;
    uint32_t value = 0;  // written, or read when the access succeeded
    DWORD error = 0;     // ERROR_SUCCESS, or why the driver refused it
};

class PhysicalMemoryControl {
public:
    virtual ~PhysicalMemoryControl() = default;
    // What a read of that width would answer; nullopt for a width or alignment the bus refuses.
    virtual std::optional<uint32_t> peek(uint32_t address, unsigned width) const = 0;
    // Sets a register from outside (read-only ones too); false for a refused width or alignment.
    virtual bool poke(uint32_t address, unsigned width, uint32_t value) = 0;
    // Every access the drivers were asked for since power-on, oldest first (a bounded window).
    virtual std::vector<PhysicalAccess> accesses() const = 0;
};
PhysicalMemoryControl& physicalMemory();

// ---- Backlight: "BKL1:" ----

// The driver takes a level request (level, 1, level, any) and applies it at the follow-up
// request. Levels run from 0 (off) to kBacklightMaxLevel; a higher one is refused.
constexpr uint32_t kBacklightMaxLevel = 255;
constexpr uint32_t kBacklightPowerOnLevel = 255;
struct BacklightState {
    uint32_t level = kBacklightPowerOnLevel;  // what the display shows
    bool pending = false;                     // a level request waits for its follow-up
    uint32_t pendingLevel = 0;
    uint64_t levelRequests = 0;  // accepted since power-on
    uint64_t followUps = 0;      // accepted since power-on
};
BacklightState backlight();

// ---- Kernel: the debug link's power and the touch calibration ----

// The KITL transport's power; on at power-on.
bool kitlPowered();
// Each accepted power request since power-on, oldest first: true for on.
std::vector<bool> kitlSwitches();
// Calibrations run since power-on. Each stores a calibration under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\TOUCH "CalibrationData". Arm a fault on
// "TouchCalibrate" to have one fail.
uint64_t touchCalibrations();

// ---- Reset: "IOC1:" ----

// Restarts carried out by a reset request since the board was last reset from the control API.
uint64_t restarts();
// Whether a reset request ends the calling process once the board has restarted, as the module
// does (exit status 0). Off at power-on; the directive is `on-reset end-process|go-on`.
void setEndProcessOnReset(bool on);
bool endProcessOnReset();

// ---- Storage ----

constexpr const char* kStorageCard = "\\Storage Card";
constexpr const char* kNandFlash = "\\NAND Flash";
constexpr const char* kSystemHivePath = "\\NAND Flash\\system.hv";
constexpr const char* kPendingSystemHivePath = "\\NAND Flash\\system.hv.pending";
constexpr const char* kUserHivePath = "\\NAND Flash\\User\\user.hv";
constexpr const char* kRefusedSystemHivePath = "\\NAND Flash\\system.hv.refused";

// Chooses the board folder ("" keeps the board in memory) and powers the storage on from it:
// the registry comes from its hives. False, with the reason in storageProblems(), when the
// folder can't be made or used. reset() goes back to VBOARD_DIR (or memory). Everything the
// board reaches stays beneath the folder: no symbolic link inside it is followed (one in place
// of "Storage Card" or "NAND Flash" refuses the folder; others are named in storageProblems()),
// and paths of MAX_PATH (260) characters or more fail with ERROR_FILENAME_EXCED_RANGE.
bool setBoardFolder(const std::string& folder);
std::string boardFolder();
// A removable card: while it is out, nothing under "\Storage Card" exists. In at power-on.
// Directive: `card in|out`.
void setStorageCard(bool inserted);
bool storageCardInserted();
// Files by CE path ("\Storage Card\Save_HKLM_Reg.srg"), as the board's file calls see them.
std::optional<std::vector<uint8_t>> readBoardFile(const std::string& cePath);
bool writeBoardFile(const std::string& cePath, const std::vector<uint8_t>& data);
bool boardFileExists(const std::string& cePath);
// The files of a folder whose names match a pattern with * and ? ("\Storage Card\*"), in name
// order, as FindFirstFileW finds them: names and sizes, read from the folder, never the files.
struct BoardFileEntry {
    std::string name;
    uint64_t size = 0;
};
std::vector<BoardFileEntry> listBoardFiles(const std::string& cePattern);
// The hive of HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER as its file would hold it.
std::string hiveText(HKEY root);
// Hive files refused, folders that could not be used, and part images (an EEPROM's, a flash's)
// refused or not written, since the board was reset.
std::vector<std::string> storageProblems();

}  // namespace vboard
