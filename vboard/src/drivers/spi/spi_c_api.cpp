// The SPI ports' control side for C applications' tests.
#include <string>

#include "vboard/spi.h"
#include "control/c_api.h"
#include "vboard/vboard_c.h"

// The bodies of the C entry points, exported below behind a guard.
namespace vboard::capi {

int vboard_spi_attach(int port, const char* model, int chip_select) {
    if (model == nullptr) return 0;
    const std::string kind = model;
    std::shared_ptr<vboard::SpiDevice> device = vboard::makeSpiDevice(kind);
    if (!device && kind != "none") return 0;
    return vboard::spi().attach(port, std::move(device), chip_select) ? 1 : 0;
}

int vboard_spi_flash_program(int port, uint32_t address, const uint8_t* data, size_t size) {
    if (data == nullptr && size > 0) return 0;
    auto flash = std::dynamic_pointer_cast<vboard::SpiNorFlash>(vboard::spi().device(port, -1));
    if (!flash) return 0;
    flash->program(address, std::vector<uint8_t>(data, data + size));
    return 1;
}

size_t vboard_spi_exchange_count(void) { return vboard::spi().exchanges().size(); }

}  // namespace vboard::capi

using namespace vboard;

extern "C" {

// ---- SPI ----

int vboard_spi_attach(int port, const char* model, int chip_select) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_spi_attach(port, model, chip_select); });
}
int vboard_spi_flash_program(int port, uint32_t address, const uint8_t* data, size_t size) {
    return guardControl(__func__, 0,
                        [&] { return capi::vboard_spi_flash_program(port, address, data, size); });
}
size_t vboard_spi_exchange_count(void) {
    return guardControl(__func__, size_t{0}, [] { return capi::vboard_spi_exchange_count(); });
}

}  // extern "C"
