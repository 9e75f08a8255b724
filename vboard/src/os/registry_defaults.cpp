// The registry as the image brings it, and the files the registry holds on the flash.
#include "os/registry_defaults.h"

#include "os/board_storage.h"
#include "os/hive_file.h"

namespace vboard {

namespace {
bool samePath(BoardStorage& storage, const CePath& path, const char* cePath) {
    CePath other;
    return storage.locate(cePath, false, other) == ERROR_SUCCESS && other.key() == path.key();
}
}  // namespace

bool heldByRegistry(BoardStorage& storage, const CePath& path) {
    return samePath(storage, path, kSystemHivePath) ||
           samePath(storage, path, kPendingSystemHivePath) ||
           (storage.userHiveLoaded() && samePath(storage, path, kUserHivePath));
}

void takeStagedSystemHive(BoardStorage& storage) {
    CePath system, staged, refused;
    storage.locate(kSystemHivePath, false, system);
    storage.locate(kPendingSystemHivePath, false, staged);
    storage.locate(kRefusedSystemHivePath, false, refused);
    auto file = storage.get(staged);
    if (!file) return;
    RegistryKey check;
    std::string problem;
    if (parseHive(file->data, hiveRootName(HKEY_LOCAL_MACHINE), check, problem)) {
        storage.move(staged, system);
        return;
    }
    // Replacing the system hive with one that can't be read would start the registry from its
    // defaults: a failed replacement, like one RegReplaceKeyW refuses, keeps the hive there is.
    // The file leaves the registry's name so that it is not tried again at every start.
    storage.addProblem(storage.describe(staged) + ": " + problem +
                       "; not put in place: the system hive is kept, and the file is set aside as " +
                       storage.describe(refused));
    storage.move(staged, refused);
}

Bytes touchCalibrationData() { return utf16Bytes("2048,2048 3584,3584 512,3584 512,512 3584,512"); }

namespace {
// Keys opened in the old contents see them deleted, as when a hive is unloaded.
void emptyHive(RegistryKey& top) {
    for (auto& child : top.children) Registry::markDeleted(*child.second);
    top.children.clear();
    top.values.clear();
}
}  // namespace

void replaceHive(Registry& registry, HKEY root, RegistryKey& loaded) {
    auto top = registry.root(root);
    if (!top) return;
    emptyHive(*top);
    top->children = std::move(loaded.children);
    top->values = std::move(loaded.values);
}

void defaultHive(Registry& registry, HKEY root) {
    auto top = registry.root(root);
    if (!top) return;
    emptyHive(*top);
    if (root == HKEY_LOCAL_MACHINE) {
        auto ident = Registry::create(top, "Ident");
        Registry::setValue(*ident, "BSPVersionNumber", dwordValue(kDefaultBspVersion));
        Registry::setValue(*ident, "ImageVersionNumber", dwordValue(kDefaultImageVersion));
        Registry::setValue(*Registry::create(top, kTouchKey), "CalibrationData",
                           RegValue{REG_SZ, touchCalibrationData()});
    } else {
        auto backlight = Registry::create(top, kBacklightKey);
        Registry::setValue(*backlight, "ACTimeout", dwordValue(60));
        Registry::setValue(*backlight, "BatteryTimeout", dwordValue(30));
        Registry::setValue(*backlight, "UseExt", dwordValue(1));
        Registry::setValue(*backlight, "UseBattery", dwordValue(1));
    }
}

}  // namespace vboard
