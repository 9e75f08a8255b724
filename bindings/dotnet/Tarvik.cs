// Tarvik.cs - the library's 48 exports for C# on the .NET Compact Framework: one DllImport each,
// named as the export, with the header's parameters in the header's order and widths.
//
// Add this file (and Coredll.cs when you create events) to a smart-device project. Every truth
// value, in and out, is one byte: a flag counts as set only when its byte is exactly 1, and a
// result is 1 for success and 0 for failure; why something failed goes to the kernel debug output.
// Nothing here is marshalled as bool or string: a 4-byte bool or a UTF-16 string would not be
// what the library reads. Written for the C# 3 compiler of the Compact Framework's tools.
using System;
using System.Runtime.InteropServices;

namespace Velna
{
    /// <summary>GPIOSetInterrupt's modes, as the board's GPIO driver numbers them.</summary>
    public enum GpioInterruptMode : uint
    {
        /// <summary>While the pin is low.</summary>
        LowLevel = 0,
        /// <summary>While the pin is high.</summary>
        HighLevel = 1,
        /// <summary>When it goes from low to high.</summary>
        RisingEdge = 2,
        /// <summary>When it goes from high to low.</summary>
        FallingEdge = 3,
        /// <summary>On every change.</summary>
        BothEdges = 4,
        /// <summary>None; what GPIOSetDirection always sends.</summary>
        NoInterrupt = 5
    }

    /// <summary>
    /// The CE serial configuration record (28 bytes), as UARTConfigureStructure hands it to the
    /// serial driver. The third word holds the bit fields; the properties below read and write
    /// them at the bit positions the C compiler gives them (fBinary in bit 0 upwards).
    /// </summary>
    [StructLayout(LayoutKind.Explicit, Size = 28)]
    public struct DCB
    {
        /// <summary>The record's size; UARTConfigureStructure sets it to 28 itself.</summary>
        [FieldOffset(0)] public uint DCBlength;
        /// <summary>Bits per second.</summary>
        [FieldOffset(4)] public uint BaudRate;
        /// <summary>The flag word: fBinary (bit 0) to fAbortOnError (bit 14), 17 bits unused.</summary>
        [FieldOffset(8)] public uint Flags;
        /// <summary>Reserved; the library passes what the caller set.</summary>
        [FieldOffset(12)] public ushort wReserved;
        /// <summary>Free bytes in the receive buffer below which XON is sent.</summary>
        [FieldOffset(14)] public ushort XonLim;
        /// <summary>Free bytes in the receive buffer below which XOFF is sent.</summary>
        [FieldOffset(16)] public ushort XoffLim;
        /// <summary>Data bits, 4 to 8.</summary>
        [FieldOffset(18)] public byte ByteSize;
        /// <summary>0 none, 1 odd, 2 even, 3 mark, 4 space.</summary>
        [FieldOffset(19)] public byte Parity;
        /// <summary>0 one, 1 one and a half, 2 two.</summary>
        [FieldOffset(20)] public byte StopBits;
        // The characters are C chars: one byte each, not a C# char.
        /// <summary>The XON character.</summary>
        [FieldOffset(21)] public byte XonChar;
        /// <summary>The XOFF character.</summary>
        [FieldOffset(22)] public byte XoffChar;
        /// <summary>What replaces a byte received with a parity error.</summary>
        [FieldOffset(23)] public byte ErrorChar;
        /// <summary>The end-of-data character.</summary>
        [FieldOffset(24)] public byte EofChar;
        /// <summary>The character that signals an event.</summary>
        [FieldOffset(25)] public byte EvtChar;
        /// <summary>Reserved.</summary>
        [FieldOffset(26)] public ushort wReserved1;

        private uint Field(int shift, uint mask) { return (Flags >> shift) & mask; }
        private void SetField(int shift, uint mask, uint value)
        {
            if (value > mask) throw new ArgumentOutOfRangeException("value");
            Flags = (Flags & ~(mask << shift)) | (value << shift);
        }

        /// <summary>Binary mode (bit 0).</summary>
        public bool fBinary { get { return Field(0, 1) != 0; } set { SetField(0, 1, value ? 1u : 0u); } }
        /// <summary>Parity checking (bit 1).</summary>
        public bool fParity { get { return Field(1, 1) != 0; } set { SetField(1, 1, value ? 1u : 0u); } }
        /// <summary>CTS output flow control (bit 2).</summary>
        public bool fOutxCtsFlow { get { return Field(2, 1) != 0; } set { SetField(2, 1, value ? 1u : 0u); } }
        /// <summary>DSR output flow control (bit 3).</summary>
        public bool fOutxDsrFlow { get { return Field(3, 1) != 0; } set { SetField(3, 1, value ? 1u : 0u); } }
        /// <summary>DTR flow control, 0 disable, 1 enable, 2 handshake (bits 4-5).</summary>
        public uint fDtrControl { get { return Field(4, 3); } set { SetField(4, 3, value); } }
        /// <summary>DSR sensitivity (bit 6).</summary>
        public bool fDsrSensitivity { get { return Field(6, 1) != 0; } set { SetField(6, 1, value ? 1u : 0u); } }
        /// <summary>Go on sending after XOFF was sent (bit 7).</summary>
        public bool fTXContinueOnXoff { get { return Field(7, 1) != 0; } set { SetField(7, 1, value ? 1u : 0u); } }
        /// <summary>XON/XOFF output flow control (bit 8).</summary>
        public bool fOutX { get { return Field(8, 1) != 0; } set { SetField(8, 1, value ? 1u : 0u); } }
        /// <summary>XON/XOFF input flow control (bit 9).</summary>
        public bool fInX { get { return Field(9, 1) != 0; } set { SetField(9, 1, value ? 1u : 0u); } }
        /// <summary>Replace bytes with parity errors by ErrorChar (bit 10).</summary>
        public bool fErrorChar { get { return Field(10, 1) != 0; } set { SetField(10, 1, value ? 1u : 0u); } }
        /// <summary>Discard null bytes (bit 11).</summary>
        public bool fNull { get { return Field(11, 1) != 0; } set { SetField(11, 1, value ? 1u : 0u); } }
        /// <summary>RTS flow control, 0 disable, 1 enable, 2 handshake, 3 toggle (bits 12-13).</summary>
        public uint fRtsControl { get { return Field(12, 3); } set { SetField(12, 3, value); } }
        /// <summary>Abort reads and writes on an error (bit 14).</summary>
        public bool fAbortOnError { get { return Field(14, 1) != 0; } set { SetField(14, 1, value ? 1u : 0u); } }
    }

    /// <summary>
    /// The library's exports. Functions of one family that share a GPIO index, bus or port must be
    /// serialised by the caller. Mind one inverted answer: GPIOGetPin answers 1 for a pin that
    /// reads low and 0 for a pin that reads high - or that could not be read at all.
    /// </summary>
    public static class Tarvik
    {
        /// <summary>The native library's name on the module (mapped to libTarvik.so by Mono's dllmap).</summary>
        public const string Library = "Tarvik.dll";

        // ---- Versions ----

        /// <summary>The library's own version, 0x01040001 (1.4.0.1).</summary>
        [DllImport(Library)] public static extern uint TarvikGetVersion();
        /// <summary>The board-support package's version from HKEY_LOCAL_MACHINE\Ident, 0 when it can't be read.</summary>
        [DllImport(Library)] public static extern uint BSPGetVersion();
        /// <summary>The operating-system image's version from HKEY_LOCAL_MACHINE\Ident, 0 when it can't be read.</summary>
        [DllImport(Library)] public static extern uint WinCEImageGetVersion();

        // ---- GPIO, by module index ----

        /// <summary>
        /// Makes a GPIO an input (input == 1) or an output (anything else), then drives level (1 or 0)
        /// on it - the level is sent for an input too. Answers 1 when both were accepted. Indices
        /// 24 to 29 are the serial ports' RTS lines with a fixed direction; 0, 30 to 33 and above 34
        /// name no GPIO. No call on such an index reaches the driver.
        /// </summary>
        [DllImport(Library)] public static extern byte GPIOSetDirection(uint index, byte input, byte level);
        /// <summary>Drives a GPIO to level (1 = high, anything else = low).</summary>
        [DllImport(Library)] public static extern void GPIOSetPin(uint index, byte level);
        /// <summary>
        /// Reads a GPIO: answers 1 when the pin reads low (0), 0 when it reads high or cannot be read.
        /// The answer is inverted on purpose; applications on the module rely on it.
        /// </summary>
        [DllImport(Library)] public static extern byte GPIOGetPin(uint index);
        /// <summary>
        /// Makes a GPIO an interrupt input in mode (GpioInterruptMode) and binds the caller's event
        /// to it: the driver sets the event when the interrupt fires. The event stays the caller's:
        /// create it (Coredll.CreateEventW) before and close it after GPIOClearInterrupt. It is reset
        /// before the interrupt is armed. The library keeps the driver handle open until
        /// GPIOClearInterrupt; calling again on the same index re-arms that handle with the new mode
        /// and event. Answers 1 when armed.
        /// </summary>
        [DllImport(Library)] public static extern byte GPIOSetInterrupt(uint index, uint mode, IntPtr @event);
        /// <summary>
        /// Releases the interrupt set by GPIOSetInterrupt and closes its handle. Answers 1 whenever
        /// the driver was asked (even if it refused), 0 when no interrupt was set on the index.
        /// </summary>
        [DllImport(Library)] public static extern byte GPIOClearInterrupt(uint index);

        // ---- I2C: bus 0 (the SoC's I2C2), 1 (I2C1), 2 (I2C3) ----
        // Device addresses are 7-bit I2C addresses, as i2cdetect prints them (0x50 for a 24-series
        // EEPROM, not the 8-bit 0xA0): the bus driver adds the read/write bit itself. Every transfer
        // first writes the register number and a 0x00 byte, which a 24-series EEPROM takes as the
        // address register x 256 (register 0x01 is EEPROM byte 0x0100). Every transfer opens the
        // bus itself at 100 kHz and closes it again: it needs no I2COpen and ignores its
        // frequencyCode.

        /// <summary>
        /// Opens a bus as master. frequencyCode 0: 100 kHz, 1: 400 kHz, 3: 1.6 MHz, 4: 2.4 MHz,
        /// 5: 3.6 MHz; 2 and 6 or more are refused. Answers 1 at once when the bus is already open.
        /// </summary>
        [DllImport(Library)] public static extern byte I2COpen(uint bus, uint frequencyCode);
        /// <summary>Closes a bus opened by I2COpen; nothing happens on a bus that is not open.</summary>
        [DllImport(Library)] public static extern void I2CClose(uint bus);
        /// <summary>Reads one byte from a device register into value.</summary>
        [DllImport(Library)] public static extern byte I2CRead(uint bus, uint frequencyCode, byte slaveAddress,
                                                               byte registerAddress, out byte value);
        /// <summary>
        /// Reads length bytes (0 to 255) from a device, starting at a register, into data, which must
        /// hold length bytes. Note the order: the length comes before the buffer.
        /// </summary>
        [DllImport(Library)] public static extern byte I2CReadMultipleBytes(uint bus, uint frequencyCode, byte slaveAddress,
                                                                            byte registerAddress, byte length,
                                                                            [Out] byte[] data);
        /// <summary>Writes one byte to a device register.</summary>
        [DllImport(Library)] public static extern byte I2CWrite(uint bus, uint frequencyCode, byte slaveAddress,
                                                                byte registerAddress, byte value);
        /// <summary>Writes length bytes (0 to 255) from data to a device, starting at a register.</summary>
        [DllImport(Library)] public static extern byte I2CWriteMultipleBytes(uint bus, uint frequencyCode, byte slaveAddress,
                                                                             byte registerAddress, byte length,
                                                                             [In] byte[] data);

        // ---- SPI: port 0 ("SPI1:"), port 1 ("SPI2:") ----

        /// <summary>
        /// Opens an SPI port's driver and keeps it open until SPIClose. Answers 1 at once when the
        /// port is already open, and also after a failed open until SPIClose; 0 for another port number.
        /// </summary>
        [DllImport(Library)] public static extern byte SPIOpen(uint port);
        /// <summary>
        /// Closes an SPI port, and with it the completion event that both ports share: after closing
        /// one port, the other's exchanges no longer wait for completion until SPIConfigure runs again.
        /// </summary>
        [DllImport(Library)] public static extern void SPIClose(uint port);
        /// <summary>
        /// Sets a port's clock mode (0 to 3: polarity in the high bit, phase in the low), frequency in
        /// Hz and configuration byte (the low 8 bits), and creates the completion event. The port need
        /// not be open. A mode above 3 answers 0, yet the frequency is kept.
        /// </summary>
        [DllImport(Library)] public static extern byte SPIConfigure(uint port, uint mode, uint frequency, uint configByte);
        /// <summary>
        /// Sends bitLength bits from txBuffer while receiving as many into rxBuffer, and returns once
        /// the driver reports the exchange complete. The buffers are handed to the driver unchecked
        /// and must hold the bits rounded up to whole bytes; a negative length goes to the driver
        /// unchanged.
        /// </summary>
        [DllImport(Library)] public static extern byte SPIExchange(uint port, int bitLength, [In] byte[] txBuffer,
                                                                   [Out] byte[] rxBuffer);

        // ---- UART: port 1 ("COM1:"), port 2 ("COM2:"); port 3 passes every check but never opens ----

        /// <summary>
        /// Opens a serial port at 8 data bits, no parity, one stop bit, with flowControl 0 (none),
        /// 1 (hardware: CTS/DSR, RTS/DTR handshake) or 2 (XON/XOFF) and baudRate. Opening a port that
        /// is open closes its old handle first. Answers 0 also when the port opened but could not be
        /// configured; it then stays open until UARTClose.
        /// </summary>
        [DllImport(Library)] public static extern byte UARTOpen(uint port, int flowControl, int baudRate);
        /// <summary>Closes a serial port; after a failed UARTOpen it lets the port be opened again.</summary>
        [DllImport(Library)] public static extern void UARTClose(uint port);
        /// <summary>
        /// Sets a port's flow control, parity, stop bits, byte size (the low four bits of each) and
        /// baud rate. The rate is remembered for UARTRead's pause even when the port is not open.
        /// </summary>
        [DllImport(Library)] public static extern byte UARTConfigure(uint port, int flowControl, int parity, int stopBits,
                                                                     int byteSize, int baudRate);
        /// <summary>Applies the caller's complete serial configuration record (DCBlength need not be set).</summary>
        [DllImport(Library)] public static extern byte UARTConfigureStructure(uint port, [In] ref DCB dcb);
        /// <summary>
        /// Flushes both buffers and applies the port's time-outs as the last UARTRead or UARTWrite
        /// left them (all zero before either). The two further arguments are reserved and not read.
        /// </summary>
        [DllImport(Library)] public static extern byte UARTConfigureTimeout(uint port, uint reserved1, uint reserved2);
        /// <summary>Clears a port's receive and then its transmit buffer.</summary>
        [DllImport(Library)] public static extern byte UARTClearBuffer(uint port);
        /// <summary>
        /// Flushes the port, waits for a serial event (bytes arriving), pauses for the rest of them at
        /// the rate of the last UARTConfigure, then reads up to size (at most 4) bytes into buffer.
        /// Blocks until something arrives; how many bytes came is not reported.
        /// </summary>
        [DllImport(Library)] public static extern byte UARTRead(uint port, uint size, [Out] byte[] buffer);
        /// <summary>
        /// Writes a zero-terminated string of C chars (the empty string too) and waits until it has
        /// been sent. data must end with a 0 byte: the library reads up to it.
        /// </summary>
        [DllImport(Library)] public static extern byte UARTWrite(uint port, [In] byte[] data);

        // ---- CAN: the one controller, port 1 ----

        /// <summary>Opens the CAN controller; refused while it is open, or after a failed open until CANClose.</summary>
        [DllImport(Library)] public static extern byte CANOpen(uint port);
        /// <summary>Closes the CAN controller. The message records, the filter and the status words are kept.</summary>
        [DllImport(Library)] public static extern void CANClose(uint port);
        /// <summary>
        /// Sets the identifier format (0 = 11-bit, else 29-bit), the bit rate (0 is refused), and the
        /// TLPRIO and loopback modes (each on when exactly 1). Both message records lose their data.
        /// </summary>
        [DllImport(Library)] public static extern byte CANConfigureMode(uint port, uint extendedId, uint bitrate,
                                                                        byte tlprio, byte loopback);
        /// <summary>Sets the controller's raw bit timing: the low 16 bits of prescaler, the low 8 of the rest.</summary>
        [DllImport(Library)] public static extern byte CANConfigureTiming(uint port, uint prescaler, uint propseg,
                                                                          uint phase1seg, uint phase2seg, uint auxTiming);
        /// <summary>
        /// Adds a receive filter. filterId may not exceed the largest identifier of the format that
        /// CANConfigureMode last chose (0x7FF for 11 bits, also before any; 0x1FFFFFFF for 29), whatever
        /// the format of the frames read since; a second filter is added beside the first, and only the
        /// last one added can be removed.
        /// </summary>
        [DllImport(Library)] public static extern byte CANConfigureFilter(uint port, int filterId, uint filterMask,
                                                                          byte filterFlag, byte filterOption);
        /// <summary>Removes the last filter added; 0 when none was ever added.</summary>
        [DllImport(Library)] public static extern byte CANResetFilter(uint port);
        /// <summary>
        /// Prepares the receive (direction 0) or transmit (any other direction) message record; the
        /// message is marked as one that sends only when direction is exactly 1. Sends nothing.
        /// </summary>
        [DllImport(Library)] public static extern byte CANConfigureMessage(uint port, uint frameFlag, uint messageId,
                                                                           byte auxByte, uint auxValue, byte direction);
        /// <summary>
        /// Reads back a message record's fields, including what the driver wrote in the last
        /// transfer. (The library lets every field but messageId be left out; this declaration
        /// always asks for all of them.)
        /// </summary>
        [DllImport(Library)] public static extern byte CANGetMessageParameter(uint port, out uint messageId, out uint dataLength,
                                                                              out uint frameFlag, out byte auxByte,
                                                                              out uint auxValue, out uint transmitFlag,
                                                                              byte direction);
        /// <summary>
        /// Receives one message into buffer (length at least 1, and no more than buffer holds; all
        /// length bytes are written, zeros where nothing was received). status gets the driver's
        /// status (0 = received).
        /// </summary>
        [DllImport(Library)] public static extern byte CANRead(uint port, [Out] byte[] buffer, int length, out uint status);
        /// <summary>Sends length bytes (0 or more) as one message. status gets the driver's status (0 = sent).</summary>
        [DllImport(Library)] public static extern byte CANWrite(uint port, [In] byte[] data, int length, out uint status);

        // ---- Physical registers ----

        /// <summary>
        /// Reads a register of width bits at a physical address through "PHY1:".."PHY9:" (device 1
        /// to 9); 0 when the read fails, which a register holding 0 also answers.
        /// </summary>
        [DllImport(Library)] public static extern uint ReadPhysicalAddress(byte device, uint address, byte width);
        /// <summary>Writes a register; with readBack == 1 answers the value read back. 0xFFFFFFFF on failure.</summary>
        [DllImport(Library)] public static extern uint WritePhysicalAddress(byte device, uint address, byte width, uint value,
                                                                            byte readBack);

        // ---- Backlight, touch ----

        /// <summary>Sets the display backlight's brightness level; 1 when the driver took and applied it.</summary>
        [DllImport(Library)] public static extern byte SetBacklightLevel(uint level);
        /// <summary>
        /// Sets after how long (both supplies) and whether (enable == 1) the backlight switches off,
        /// in the current user's settings; nothing is flushed (see SaveRegistry).
        /// </summary>
        [DllImport(Library)] public static extern byte SetBacklightSuspend(uint timeout, byte enable);
        /// <summary>Runs the touch-screen calibration.</summary>
        [DllImport(Library)] public static extern byte CalibrateTouch();
        /// <summary>Deletes the stored touch calibration; 0 when there was none to delete.</summary>
        [DllImport(Library)] public static extern byte ClearTouchCalibrationData();

        // ---- Registry, debug link, reset ----

        /// <summary>Writes both registry hives through to persistent storage.</summary>
        [DllImport(Library)] public static extern byte SaveRegistry();
        /// <summary>Saves both registry hives to the storage card, replacing an earlier backup.</summary>
        [DllImport(Library)] public static extern byte CreateRegistryBackup();
        /// <summary>
        /// Restores both hives from the storage card, then resets the module. 0 when a backup file is
        /// missing (nothing is changed); otherwise 1, if control comes back after the reset.
        /// </summary>
        [DllImport(Library)] public static extern byte RestoreRegistryBackup();
        /// <summary>Switches the power of the kernel debug link on (on == 1) or off.</summary>
        [DllImport(Library)] public static extern byte ControlPowerKITL(byte on);
        /// <summary>Switches the kernel debug link off and on again.</summary>
        [DllImport(Library)] public static extern byte RestartPowerKITL();
        /// <summary>Resets the module; when the reset is carried out, the call may never return.</summary>
        [DllImport(Library)] public static extern void SoftReset();
    }
}
