// The registry as the image brings it.
#include "system/system_registry.h"

namespace vboard {

Bytes touchCalibrationData() { return utf16Bytes("2048,2048 3584,3584 512,3584 512,512 3584,512"); }

void defaultHive(Registry& registry, HKEY root) {
    auto top = registry.root(root);
    if (!top) return;
    for (auto& child : top->children) child.second->deleted = true;
    top->children.clear();
    top->values.clear();
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
