// The C control API of the system services: the kernel debug link, touch calibration, restarts
// and the board's storage, as thin wrappers over vboard/system.h.
#include "control/c_api.h"
#include "vboard/vboard.h"
#include "vboard/vboard_c.h"

// The bodies of the C entry points, exported below behind a guard.
namespace vboard::capi {

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
    return giveLines(vboard::storageProblems(), false);
}

}  // namespace vboard::capi

using namespace vboard;

extern "C" {

// ---- System services ----

int vboard_kitl_powered(void) {
    return guardControl(__func__, 0, [] { return capi::vboard_kitl_powered(); });
}
uint64_t vboard_touch_calibrations(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_touch_calibrations(); });
}
uint64_t vboard_restarts(void) {
    return guardControl(__func__, uint64_t{0}, [] { return capi::vboard_restarts(); });
}
void vboard_end_process_on_reset(int on) {
    guardVoidControl(__func__, [&] { capi::vboard_end_process_on_reset(on); });
}
int vboard_set_board_folder(const char* folder) {
    return guardControl(__func__, 0, [&] { return capi::vboard_set_board_folder(folder); });
}
char* vboard_board_folder(void) {
    return guardControl(__func__, kNoText, [] { return capi::vboard_board_folder(); });
}
void vboard_storage_card(int inserted) {
    guardVoidControl(__func__, [&] { capi::vboard_storage_card(inserted); });
}
void* vboard_read_board_file(const char* path, size_t* size) {
    return guardControl(__func__, static_cast<void*>(nullptr),
                        [&] { return capi::vboard_read_board_file(path, size); });
}
int vboard_write_board_file(const char* path, const void* data, size_t size) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_write_board_file(path, data, size); });
}
char* vboard_hive_text(int current_user) {
    return guardControl(__func__, kNoText,
                        [&] { return capi::vboard_hive_text(current_user); });
}
char* vboard_storage_problems(void) {
    return guardProblem(__func__, [] { return capi::vboard_storage_problems(); });
}

}  // extern "C"
