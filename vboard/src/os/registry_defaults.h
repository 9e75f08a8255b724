// The default contents of the registry hives, as the image brings them when no hive file is on
// the flash: the version numbers, the touch calibration and the per-user backlight settings.
#pragma once

#include "os/board.h"

namespace vboard {

constexpr const char* kTouchKey = "HARDWARE\\DEVICEMAP\\TOUCH";
constexpr const char* kBacklightKey = "ControlPanel\\BackLight";

// Empties one hive (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER) and fills it with its defaults.
// With the board's lock held.
void defaultHive(Registry& registry, HKEY root);

// Puts a loaded hive in the place of one hive's contents. With the board's lock held.
void replaceHive(Registry& registry, HKEY root, RegistryKey& loaded);

struct CePath;
class BoardStorage;

// Whether a file is one the registry holds: the system hive and its staged file always, the user
// hive's while it is loaded. Nobody else may write, replace or delete them.
bool heldByRegistry(BoardStorage& storage, const CePath& path);

// At a start, puts a system hive staged by RegReplaceKeyW in the old one's place, once it is
// checked again: one that can't be used (changed on the flash since) is reported and set aside,
// and the old system hive is kept. Without the board's lock held.
void takeStagedSystemHive(BoardStorage& storage);

// The calibration TouchCalibrate stores: the screen's centre and four corners in ADC counts.
Bytes touchCalibrationData();

}  // namespace vboard
