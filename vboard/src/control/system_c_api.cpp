// The C control API of the system services: thin wrappers over vboard/system.h.
#include <cstdlib>
#include <cstring>

#include "vboard/vboard.h"
#include "vboard/vboard_c.h"

namespace {

char* giveText(const std::string& text) {
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out != nullptr) std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

}  // namespace

// The bodies of the C entry points: c_api_entries.cpp exports them behind a guard.
namespace vboard::capi {

int vboard_phy_peek(uint32_t address, unsigned width, uint32_t* value) {
    const auto read = vboard::physicalMemory().peek(address, width);
    if (!read) return 0;
    if (value != nullptr) *value = *read;
    return 1;
}

int vboard_phy_poke(uint32_t address, unsigned width, uint32_t value) {
    return vboard::physicalMemory().poke(address, width, value) ? 1 : 0;
}

size_t vboard_phy_access_count(void) { return vboard::physicalMemory().accesses().size(); }

uint32_t vboard_backlight_level(void) { return vboard::backlight().level; }
int vboard_kitl_powered(void) { return vboard::kitlPowered() ? 1 : 0; }
uint64_t vboard_touch_calibrations(void) { return vboard::touchCalibrations(); }
uint64_t vboard_restarts(void) { return vboard::restarts(); }
void vboard_end_process_on_reset(int on) { vboard::setEndProcessOnReset(on != 0); }

int vboard_set_board_folder(const char* folder) {
    return vboard::setBoardFolder(folder != nullptr ? folder : "") ? 1 : 0;
}

char* vboard_board_folder(void) { return giveText(vboard::boardFolder()); }
void vboard_storage_card(int inserted) { vboard::setStorageCard(inserted != 0); }

void* vboard_read_board_file(const char* path, size_t* size) {
    if (size != nullptr) *size = 0;
    if (path == nullptr) return nullptr;
    const auto data = vboard::readBoardFile(path);
    if (!data) return nullptr;
    // One byte more, so that an empty file is a buffer too.
    void* out = std::malloc(data->size() + 1);
    if (out == nullptr) return nullptr;
    if (!data->empty()) std::memcpy(out, data->data(), data->size());
    if (size != nullptr) *size = data->size();
    return out;
}

int vboard_write_board_file(const char* path, const void* data, size_t size) {
    if (path == nullptr || (data == nullptr && size > 0)) return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    return vboard::writeBoardFile(path, std::vector<uint8_t>(bytes, bytes + size)) ? 1 : 0;
}

char* vboard_hive_text(int current_user) {
    return giveText(vboard::hiveText(current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE));
}

char* vboard_storage_problems(void) {
    const auto problems = vboard::storageProblems();
    if (problems.empty()) return nullptr;
    std::string text;
    for (const std::string& problem : problems) text += problem + "\n";
    return giveText(text);
}

}  // namespace vboard::capi
