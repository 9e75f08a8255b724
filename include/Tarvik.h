/*
 * Tarvik.h - the board-support library of the VELNA computer-on-module.
 *
 * Plain C exports, usable from C and C++. Every truth value, in and out, is one byte: a flag
 * argument counts as set only when its byte is exactly 1, and a result is 1 for success and 0
 * for failure. Why something failed is never returned; the library writes it to the kernel
 * debug output. Functions of one family that share a GPIO index, bus or port must be
 * serialised by the caller.
 *
 * Mind one inverted answer: GPIOGetPin answers 1 for a pin that reads low and 0 for a pin that
 * reads high - or that could not be read at all. Applications on the module rely on it.
 */
#ifndef TARVIK_H
#define TARVIK_H

#include <stdint.h>

/* HANDLE and DCB. In a module application they come from the module SDK's windows.h alone
 * (Visual Studio defines _WIN32_WCE in every project for a CE device); on a host, from the
 * platform seam installed beside this header, whose calls the virtual board plays. */
#if defined(_WIN32_WCE)
#include <windows.h>
#else
#include "tarvik_platform.h"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Versions ---- */

/** The library's own version, 0x01040001 (1.4.0.1). */
uint32_t TarvikGetVersion(void);
/** The board-support package's version from HKEY_LOCAL_MACHINE\Ident, 0 when it can't be read. */
uint32_t BSPGetVersion(void);
/** The operating-system image's version from HKEY_LOCAL_MACHINE\Ident, 0 when it can't be read. */
uint32_t WinCEImageGetVersion(void);

/* ---- GPIO, by module index ----
 *
 * The module numbers its GPIOs itself; each index stands for one i.MX6 bank and pin
 * (bank.pin, banks counted from 0):
 *
 *   index  1  0.2     index  9  3.8     index 17  0.18
 *   index  2  0.4     index 10  5.14    index 18  0.16
 *   index  3  0.5     index 11  5.15    index 19  0.17
 *   index  4  5.3     index 12  3.9     index 20  0.19
 *   index  5  3.5     index 13  6.0     index 21  0.20
 *   index  6  3.20    index 14  6.1     index 22  4.18
 *   index  7  2.27    index 15  4.21    index 23  4.19
 *   index  8  3.7     index 16  6.13    index 34  0.21
 *
 * Indices 24 to 29 are the serial ports' RTS lines, wired with a fixed direction: asking
 * GPIOSetDirection to make 24, 26 or 28 an output, or 25, 27 or 29 an input, answers 0 with
 * "UART RTS could not be an output" / "...an input"; any other call on them answers 0 with
 * "VELNA gpio doesn't exist", since no GPIO stands behind them. So do indices 0, 30 to 33 and
 * above 34. No call on such an index reaches the driver.
 */

/** GPIOSetInterrupt's modes, as the board's GPIO driver numbers them. */
enum TarvikGpioInterruptMode {
    TARVIK_GPIO_LOW_LEVEL = 0,    /* while the pin is low */
    TARVIK_GPIO_HIGH_LEVEL = 1,   /* while the pin is high */
    TARVIK_GPIO_RISING_EDGE = 2,  /* when it goes from low to high */
    TARVIK_GPIO_FALLING_EDGE = 3, /* when it goes from high to low */
    TARVIK_GPIO_BOTH_EDGES = 4,   /* on every change */
    TARVIK_GPIO_NO_INTERRUPT = 5  /* none; what GPIOSetDirection always sends */
};

/** Makes a GPIO an input (input == 1) or an output (anything else), then drives level (1 or 0)
 *  on it - the level is sent for an input too. Answers 1 when both were accepted. */
uint8_t GPIOSetDirection(uint32_t index, uint8_t input, uint8_t level);
/** Drives a GPIO to level (1 = high, anything else = low). */
void GPIOSetPin(uint32_t index, uint8_t level);
/** Reads a GPIO: answers 1 when the pin reads low (0), 0 when it reads high or cannot be read. */
uint8_t GPIOGetPin(uint32_t index);
/** Makes a GPIO an interrupt input in `mode` (TarvikGpioInterruptMode) and binds the caller's
 *  event to it: the driver sets the event when the interrupt fires; waiting on it is the
 *  caller's business. The event stays the caller's: create it (CreateEventW) before and close
 *  it after GPIOClearInterrupt. It is reset before the interrupt is armed. The library keeps
 *  the driver handle open until GPIOClearInterrupt; calling GPIOSetInterrupt again on the same
 *  index re-arms that handle with the new mode and event. Answers 1 when armed. */
uint8_t GPIOSetInterrupt(uint32_t index, uint32_t mode, HANDLE event);
/** Releases the interrupt set by GPIOSetInterrupt and closes its handle. Answers 1 whenever the
 *  driver was asked (even if it refused), 0 when no interrupt was set on the index. */
uint8_t GPIOClearInterrupt(uint32_t index);

/* ---- I2C: bus 0, 1, 2 ---- */
/* Bus 0 is the SoC's I2C2, bus 1 its I2C1, bus 2 its I2C3. Device addresses are 7-bit I2C
 * addresses, as i2cdetect prints them (0x50 for a 24-series EEPROM, not the 8-bit 0xA0): the bus
 * driver adds the read/write bit itself, since each packet carries its direction. Every transfer
 * first writes the register number and a 0x00 byte, which a device with 16-bit addresses (a
 * 24-series EEPROM, high byte first) takes as the address register x 256: register 0x01 reaches
 * EEPROM byte 0x0100, and I2CReadMultipleBytes(0, 0, 0x50, 0x01, 16, data) reads bytes 0x0100 to
 * 0x010F. Then the data moves. Each transfer opens the bus itself at 100 kHz and closes it again,
 * so it needs no I2COpen and ignores its frequencyCode. */

/** Opens a bus as master. frequencyCode 0: 100 kHz, 1: 400 kHz, 3: 1.6 MHz, 4: 2.4 MHz,
 *  5: 3.6 MHz; 2 and 6 or more are refused. Answers 1 at once when the bus is already open. */
uint8_t I2COpen(uint32_t bus, uint32_t frequencyCode);
/** Closes a bus opened by I2COpen; nothing happens on a bus that is not open. */
void I2CClose(uint32_t bus);
/** Reads one byte from a device register into *value. */
uint8_t I2CRead(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                uint8_t registerAddress, uint8_t* value);
/** Reads length bytes (0 to 255) from a device, starting at a register, into data. Note the
 *  order: the length comes before the pointer. */
uint8_t I2CReadMultipleBytes(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                             uint8_t registerAddress, uint8_t length, uint8_t* data);
/** Writes one byte to a device register. */
uint8_t I2CWrite(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                 uint8_t registerAddress, uint8_t value);
/** Writes length bytes (0 to 255) from data to a device, starting at a register. */
uint8_t I2CWriteMultipleBytes(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                              uint8_t registerAddress, uint8_t length, const uint8_t* data);

/* ---- SPI: port 0 ("SPI1:"), port 1 ("SPI2:") ----
   Both ports complete their exchanges through one event, which holds one completion: run one
   SPIExchange at a time across both ports (one lock for the two, not one per port). Two threads
   exchanging on the two ports at once can merge their completions, and one of them then waits
   for ever. The virtual board reports such an overlap as a misuse that names both ports. */

/** Opens an SPI port's driver and keeps it open until SPIClose. Answers 1 at once when the port
    is already open, and also after a failed open until SPIClose; 0 for another port number. */
uint8_t SPIOpen(uint32_t port);
/** Closes an SPI port, and with it the completion event that both ports share: after closing one
    port, the other's exchanges no longer wait for completion until SPIConfigure runs again. */
void SPIClose(uint32_t port);
/** Sets a port's clock mode (0 to 3: polarity in the high bit, phase in the low), frequency in Hz
    and configuration byte (the low 8 bits), and creates the completion event. The port need not
    be open. A mode above 3 answers 0, yet the frequency is kept. */
uint8_t SPIConfigure(uint32_t port, uint32_t mode, uint32_t frequency, uint32_t configByte);
/** Sends bitLength bits from txBuffer while receiving as many into rxBuffer, and returns once the
    driver reports the exchange complete. The buffers are handed to the driver unchecked and must
    hold the bits rounded up to whole bytes; a negative length goes to the driver unchanged. */
uint8_t SPIExchange(uint32_t port, int32_t bitLength, const uint8_t* txBuffer, uint8_t* rxBuffer);

/* ---- UART: port 1 ("COM1:"), port 2 ("COM2:") ----
   Port 3 is accepted by every check but has no device, so it never opens. */

/** Opens a serial port at 8 data bits, no parity, one stop bit, with flowControl 0 (none),
    1 (hardware: CTS/DSR, RTS/DTR handshake) or 2 (XON/XOFF) and baudRate. Opening a port that
    is open closes its old handle first. Answers 0 also when the port opened but could not be
    configured; it then stays open until UARTClose. */
uint8_t UARTOpen(uint32_t port, int32_t flowControl, int32_t baudRate);
/** Closes a serial port; after a failed UARTOpen it lets the port be opened again. */
void UARTClose(uint32_t port);
/** Sets a port's flow control, parity, stop bits, byte size (the low four bits of each) and baud
    rate. The rate is remembered for UARTRead's pause even when the port is not open. */
uint8_t UARTConfigure(uint32_t port, int32_t flowControl, int32_t parity, int32_t stopBits,
                      int32_t byteSize, int32_t baudRate);
/** Applies the caller's complete serial configuration record (DCBlength need not be set);
    a null record is refused. */
uint8_t UARTConfigureStructure(uint32_t port, const DCB* dcb);
/** Flushes both buffers and applies the port's time-outs as the last UARTRead or UARTWrite left
    them (all zero before either). The two further arguments are reserved and not read. */
uint8_t UARTConfigureTimeout(uint32_t port, uint32_t reserved1, uint32_t reserved2);
/** Clears a port's receive and then its transmit buffer. */
uint8_t UARTClearBuffer(uint32_t port);
/** Flushes the port, waits for a serial event (bytes arriving), pauses for the rest of them at the
    rate of the last UARTConfigure, then reads up to size (at most 4) bytes into buffer. Blocks
    until something arrives; how many bytes came is not reported. */
uint8_t UARTRead(uint32_t port, uint32_t size, uint8_t* buffer);
/** Writes a zero-terminated string (the empty string too) and waits until it has been sent. */
uint8_t UARTWrite(uint32_t port, const char* data);

/* ---- CAN: the one controller, port 1 ---- */

/** Opens the CAN controller; refused while it is open, or after a failed open until CANClose. */
uint8_t CANOpen(uint32_t port);
/** Closes the CAN controller. The message records, the filter and the status words are kept. */
void CANClose(uint32_t port);
/** Sets the identifier format (0 = 11-bit, else 29-bit), the bit rate (0 is refused), and the
    TLPRIO and loopback modes (each on when exactly 1). Both message records lose their data. */
uint8_t CANConfigureMode(uint32_t port, uint32_t extendedId, uint32_t bitrate, uint8_t tlprio,
                         uint8_t loopback);
/** Sets the controller's raw bit timing: the low 16 bits of prescaler, the low 8 of the rest. */
uint8_t CANConfigureTiming(uint32_t port, uint32_t prescaler, uint32_t propseg,
                           uint32_t phase1seg, uint32_t phase2seg, uint32_t auxTiming);
/** Adds a receive filter. filterId may not exceed the largest identifier of the format that
    CANConfigureMode last chose (0x7FF for 11 bits, also before any; 0x1FFFFFFF for 29), whatever
    the format of the frames read since; a second filter is added beside the first, and only the
    last one added can be removed. */
uint8_t CANConfigureFilter(uint32_t port, int32_t filterId, uint32_t filterMask,
                           uint8_t filterFlag, uint8_t filterOption);
/** Removes the last filter added; 0 when none was ever added. */
uint8_t CANResetFilter(uint32_t port);
/** Prepares the receive (direction 0) or transmit (any other direction) message record; the
    message is marked as one that sends only when direction is exactly 1. Sends nothing. */
uint8_t CANConfigureMessage(uint32_t port, uint32_t frameFlag, uint32_t messageId,
                            uint8_t auxByte, uint32_t auxValue, uint8_t direction);
/** Reads back a message record's fields, including what the driver wrote in the last transfer.
    messageId is required; every other pointer may be NULL. */
uint8_t CANGetMessageParameter(uint32_t port, uint32_t* messageId, uint32_t* dataLength,
                               uint32_t* frameFlag, uint8_t* auxByte, uint32_t* auxValue,
                               uint32_t* transmitFlag, uint8_t direction);
/** Receives one message into buffer (length at least 1; all length bytes are written, zeros
    where nothing was received). status, when given, gets the driver's status (0 = received). */
uint8_t CANRead(uint32_t port, uint8_t* buffer, int32_t length, uint32_t* status);
/** Sends length bytes (0 or more) as one message. status, when given, gets the driver's status
    (0 = sent). */
uint8_t CANWrite(uint32_t port, const uint8_t* data, int32_t length, uint32_t* status);

/* ---- Physical registers ---- */

/** Reads a register of width bits at a physical address through "PHY1:".."PHY9:" (device 1 to
    9); 0 when the read fails, which a register holding 0 also answers. */
uint32_t ReadPhysicalAddress(uint8_t device, uint32_t address, uint8_t width);
/** Writes a register; with readBack == 1 answers the value read back. 0xFFFFFFFF on failure. */
uint32_t WritePhysicalAddress(uint8_t device, uint32_t address, uint8_t width, uint32_t value,
                              uint8_t readBack);

/* ---- Backlight, touch ---- */

/** Sets the display backlight's brightness level; 1 when the driver took and applied it. */
uint8_t SetBacklightLevel(uint32_t level);
/** Sets after how long (both supplies) and whether (enable == 1) the backlight switches off, in
    the current user's settings; nothing is flushed (see SaveRegistry). */
uint8_t SetBacklightSuspend(uint32_t timeout, uint8_t enable);
/** Runs the touch-screen calibration. */
uint8_t CalibrateTouch(void);
/** Deletes the stored touch calibration; 0 when there was none to delete. */
uint8_t ClearTouchCalibrationData(void);

/* ---- Registry, debug link, reset ---- */

/** Writes both registry hives through to persistent storage. */
uint8_t SaveRegistry(void);
/** Saves both registry hives to the storage card, replacing an earlier backup. */
uint8_t CreateRegistryBackup(void);
/** Restores both hives from the storage card, then resets the module. 0 when a backup file is
    missing (nothing is changed); otherwise 1, if control comes back after the reset. */
uint8_t RestoreRegistryBackup(void);
/** Switches the power of the kernel debug link on (on == 1) or off. */
uint8_t ControlPowerKITL(uint8_t on);
/** Switches the kernel debug link off and on again. */
uint8_t RestartPowerKITL(void);
/** Resets the module; when the reset is carried out, the call may never return. */
void SoftReset(void);

#ifdef __cplusplus
}
#endif

#endif /* TARVIK_H */
