// The exported registry persistence: flushing both hives, backing them up to the storage card
// and restoring them from it with a reset of the module.
#pragma once

#include <stdint.h>

namespace tarvik {

// 1 when both hives were flushed; a failed flush of one does not stop the other.
uint8_t SaveRegistry();
// Deletes the old backup, then saves HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER to the card;
// 1 when both files were written.
uint8_t CreateRegistryBackup();
// 0 when a backup file is missing (nothing is changed then). Otherwise stages the system hive,
// replaces the user hive's file, resets the module and, if control comes back, answers 1.
uint8_t RestoreRegistryBackup();

}  // namespace tarvik
