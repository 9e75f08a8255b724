// I2cBus.cs - one of the connector's I2C buses: register reads and writes on its devices.
using System;

namespace Velna
{
    /// <summary>I2COpen's frequency codes.</summary>
    public enum I2cSpeed : uint
    {
        /// <summary>100 kHz.</summary>
        Standard100k = 0,
        /// <summary>400 kHz.</summary>
        Fast400k = 1,
        /// <summary>1.6 MHz.</summary>
        High1600k = 3,
        /// <summary>2.4 MHz.</summary>
        High2400k = 4,
        /// <summary>3.6 MHz.</summary>
        High3600k = 5
    }

    /// <summary>
    /// Bus 0 (the SoC's I2C2), 1 (I2C1) or 2 (I2C3). Transfers open and close the bus themselves at
    /// 100 kHz; Open is only for keeping the bus open as master at another speed, and Dispose closes
    /// what Open opened. Addresses are 7-bit I2C addresses, as i2cdetect prints them (0x50 for a
    /// 24-series EEPROM); a 24-series EEPROM's register r is its byte r x 256.
    /// </summary>
    public sealed class I2cBus : IDisposable
    {
        /// <summary>The most bytes one transfer moves.</summary>
        public const int MaxTransfer = 255;

        private readonly uint bus;
        private bool open;

        /// <summary>A bus by number; nothing is sent to the driver yet.</summary>
        public I2cBus(uint bus) { this.bus = bus; }

        /// <summary>The bus number.</summary>
        public uint Bus { get { return bus; } }

        /// <summary>Opens the bus as master at speed.</summary>
        public void Open(I2cSpeed speed)
        {
            TarvikException.Check(Tarvik.I2COpen(bus, (uint)speed), "I2COpen");
            open = true;
        }

        /// <summary>Reads one register of the device at address.</summary>
        public byte ReadByte(byte address, byte register)
        {
            byte value;
            TarvikException.Check(Tarvik.I2CRead(bus, 0, address, register, out value), "I2CRead");
            return value;
        }

        /// <summary>Reads count bytes (0 to 255) from register on.</summary>
        public byte[] Read(byte address, byte register, int count)
        {
            if (count < 0 || count > MaxTransfer) throw new ArgumentOutOfRangeException("count");
            byte[] data = new byte[count];
            TarvikException.Check(Tarvik.I2CReadMultipleBytes(bus, 0, address, register, (byte)count, data),
                                  "I2CReadMultipleBytes");
            return data;
        }

        /// <summary>Writes one register of the device at address.</summary>
        public void WriteByte(byte address, byte register, byte value)
        {
            TarvikException.Check(Tarvik.I2CWrite(bus, 0, address, register, value), "I2CWrite");
        }

        /// <summary>Writes data (0 to 255 bytes) from register on.</summary>
        public void Write(byte address, byte register, byte[] data)
        {
            if (data == null) throw new ArgumentNullException("data");
            if (data.Length > MaxTransfer) throw new ArgumentOutOfRangeException("data");
            TarvikException.Check(Tarvik.I2CWriteMultipleBytes(bus, 0, address, register, (byte)data.Length, data),
                                  "I2CWriteMultipleBytes");
        }

        /// <summary>Closes the bus if Open opened it.</summary>
        public void Dispose()
        {
            if (open) Tarvik.I2CClose(bus);
            open = false;
        }
    }
}
