/*
 * Tarvik.h - the board-support library of the VELNA computer-on-module.
 *
 * Plain C exports, usable from C and C++. Every truth value, in and out, is one byte: a flag
 * argument counts as set only when its byte is exactly 1, and a result is 1 for success and 0
 * for failure. Why something failed is never returned; the library writes it to the kernel
 * debug output. Functions of one family that share a GPIO index, bus or port must be
 * serialised by the caller.
 */
#ifndef TARVIK_H
#define TARVIK_H

#include <stdint.h>

#include "tarvik_platform.h" /* HANDLE, DCB */

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

/* ---- GPIO, by module index ---- */

/** Makes a GPIO an input (input == 1) or an output, then drives level (1 or 0) on it. */
uint8_t GPIOSetDirection(uint32_t index, uint8_t input, uint8_t level);
/** Drives a GPIO to level (1 = high, anything else = low). */
void GPIOSetPin(uint32_t index, uint8_t level);
/** Reads a GPIO: answers 1 when the pin reads low (0), 0 when it reads high or cannot be read. */
uint8_t GPIOGetPin(uint32_t index);
/** Makes a GPIO an interrupt input in the driver's mode and binds the caller's event to it. */
uint8_t GPIOSetInterrupt(uint32_t index, uint32_t mode, HANDLE event);
/** Releases the interrupt set by GPIOSetInterrupt; answers 1 whenever the driver was asked. */
uint8_t GPIOClearInterrupt(uint32_t index);

/* ---- I2C: bus 0, 1, 2 ---- */

/** Opens a bus as master at the frequency named by frequencyCode. */
uint8_t I2COpen(uint32_t bus, uint32_t frequencyCode);
/** Closes a bus opened by I2COpen. */
void I2CClose(uint32_t bus);
/** Reads one byte from a device register. */
uint8_t I2CRead(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                uint8_t registerAddress, uint8_t* value);
/** Reads length bytes starting at a device register. */
uint8_t I2CReadMultipleBytes(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                             uint8_t registerAddress, uint8_t length, uint8_t* data);
/** Writes one byte to a device register. */
uint8_t I2CWrite(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                 uint8_t registerAddress, uint8_t value);
/** Writes length bytes starting at a device register. */
uint8_t I2CWriteMultipleBytes(uint32_t bus, uint32_t frequencyCode, uint8_t slaveAddress,
                              uint8_t registerAddress, uint8_t length, const uint8_t* data);

/* ---- SPI: port 0, 1 ---- */

/** Opens an SPI port. */
uint8_t SPIOpen(uint32_t port);
/** Closes an SPI port. */
void SPIClose(uint32_t port);
/** Sets a port's clock mode, frequency and configuration byte. */
uint8_t SPIConfigure(uint32_t port, uint32_t mode, uint32_t frequency, uint32_t configByte);
/** Sends bitLength bits from txBuffer while receiving as many into rxBuffer. */
uint8_t SPIExchange(uint32_t port, int32_t bitLength, const uint8_t* txBuffer, uint8_t* rxBuffer);

/* ---- UART: port 0, 1 ---- */

/** Opens a serial port with a flow control and a baud rate. */
uint8_t UARTOpen(uint32_t port, int32_t flowControl, int32_t baudRate);
/** Closes a serial port. */
void UARTClose(uint32_t port);
/** Sets a port's line parameters. */
uint8_t UARTConfigure(uint32_t port, int32_t flowControl, int32_t parity, int32_t stopBits,
                      int32_t byteSize, int32_t baudRate);
/** Applies the caller's complete serial configuration record. */
uint8_t UARTConfigureStructure(uint32_t port, const DCB* dcb);
/** Sets a port's time-outs. */
uint8_t UARTConfigureTimeout(uint32_t port, uint32_t reserved1, uint32_t reserved2);
/** Clears a port's receive and transmit buffers. */
uint8_t UARTClearBuffer(uint32_t port);
/** Reads size bytes from a port into buffer. */
uint8_t UARTRead(uint32_t port, uint32_t size, uint8_t* buffer);
/** Writes a zero-terminated string to a port. */
uint8_t UARTWrite(uint32_t port, const char* data);

/* ---- CAN: port 0 ---- */

/** Opens the CAN controller. */
uint8_t CANOpen(uint32_t port);
/** Closes the CAN controller. */
void CANClose(uint32_t port);
/** Sets the identifier format, bit rate, TLPRIO and loopback modes. */
uint8_t CANConfigureMode(uint32_t port, uint32_t extendedId, uint32_t bitrate, uint8_t tlprio,
                         uint8_t loopback);
/** Sets the controller's raw bit timing. */
uint8_t CANConfigureTiming(uint32_t port, uint32_t prescaler, uint32_t propseg,
                           uint32_t phase1seg, uint32_t phase2seg, uint32_t auxTiming);
/** Installs the receive filter. */
uint8_t CANConfigureFilter(uint32_t port, int32_t filterId, uint32_t filterMask,
                           uint8_t filterFlag, uint8_t filterOption);
/** Removes the receive filter. */
uint8_t CANResetFilter(uint32_t port);
/** Prepares the transmit (direction 1) or receive message record. */
uint8_t CANConfigureMessage(uint32_t port, uint32_t frameFlag, uint32_t messageId,
                            uint8_t auxByte, uint32_t auxValue, uint8_t direction);
/** Reads back the fields of a prepared or transferred message. */
uint8_t CANGetMessageParameter(uint32_t port, uint32_t* messageId, uint32_t* dataLength,
                               uint32_t* frameFlag, uint8_t* auxByte, uint32_t* auxValue,
                               uint32_t* transmitFlag, uint8_t direction);
/** Receives a message into buffer; status gets the driver's transfer status. */
uint8_t CANRead(uint32_t port, uint8_t* buffer, int32_t length, uint32_t* status);
/** Sends a message; status gets the driver's transfer status. */
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
