// UartPort.cs - a serial port held open, in the manner of SerialPort: open at a rate, write
// text or bytes, read what arrives.
using System;
using System.Text;

namespace Velna
{
    /// <summary>UARTOpen's flow controls.</summary>
    public enum UartFlowControl
    {
        /// <summary>No flow control.</summary>
        None = 0,
        /// <summary>CTS/DSR with the RTS/DTR handshake.</summary>
        Hardware = 1,
        /// <summary>XON/XOFF.</summary>
        XonXoff = 2
    }

    /// <summary>
    /// Port 1 ("COM1:") or 2 ("COM2:"), opened at 8N1 by the constructor and closed by Dispose.
    /// Opening a port that is open elsewhere takes it over: the library closes the old handle.
    /// </summary>
    public sealed class UartPort : LibraryPort
    {
        /// <summary>The most bytes one UARTRead returns.</summary>
        public const int MaxRead = 4;

        /// <summary>Opens a port at baudRate, 8N1, with flowControl.</summary>
        public UartPort(uint port, int baudRate, UartFlowControl flowControl)
            : base(port)
        {
            if (Tarvik.UARTOpen(port, (int)flowControl, baudRate) != 1)
            {
                // A port that opened but could not be configured stays open until closed.
                Tarvik.UARTClose(port);
                throw new TarvikException("UARTOpen");
            }
            Opened();
        }

        /// <summary>Sets flow control, parity (0 none, 1 odd, 2 even, 3 mark, 4 space), stop bits (0 one, 1 one and a half, 2 two), byte size and rate.</summary>
        public void Configure(UartFlowControl flowControl, int parity, int stopBits, int byteSize, int baudRate)
        {
            TarvikException.Check(Tarvik.UARTConfigure(Live(), (int)flowControl, parity, stopBits, byteSize, baudRate),
                                  "UARTConfigure");
        }

        /// <summary>Applies a whole serial configuration record.</summary>
        public void Configure(DCB dcb)
        {
            TarvikException.Check(Tarvik.UARTConfigureStructure(Live(), ref dcb), "UARTConfigureStructure");
        }

        /// <summary>Flushes both buffers and applies the port's time-outs.</summary>
        public void ApplyTimeouts()
        {
            TarvikException.Check(Tarvik.UARTConfigureTimeout(Live(), 0, 0), "UARTConfigureTimeout");
        }

        /// <summary>Clears the receive and then the transmit buffer.</summary>
        public void ClearBuffers()
        {
            TarvikException.Check(Tarvik.UARTClearBuffer(Live()), "UARTClearBuffer");
        }

        /// <summary>
        /// Waits until bytes arrive, then answers size (1 to 4) bytes; the library does not say how
        /// many came, so bytes that did not come read as zeros. Blocks until something arrives.
        /// </summary>
        public byte[] Read(int size)
        {
            if (size < 1 || size > MaxRead) throw new ArgumentOutOfRangeException("size");
            byte[] buffer = new byte[size];
            TarvikException.Check(Tarvik.UARTRead(Live(), (uint)size, buffer), "UARTRead");
            return buffer;
        }

        /// <summary>Sends text as UTF-8 and waits until it has been sent.</summary>
        public void Write(string text)
        {
            if (text == null) throw new ArgumentNullException("text");
            Write(Encoding.UTF8.GetBytes(text));
        }

        /// <summary>
        /// Sends bytes and waits until they have been sent. The library sends up to a 0 byte, so
        /// bytes holding one are refused rather than cut short.
        /// </summary>
        public void Write(byte[] bytes)
        {
            TarvikException.Check(Tarvik.UARTWrite(Live(), CString(bytes)), "UARTWrite");
        }

        /// <summary>bytes with the terminating 0 byte the library reads up to; refuses a 0 inside.</summary>
        public static byte[] CString(byte[] bytes)
        {
            if (bytes == null) throw new ArgumentNullException("bytes");
            if (Array.IndexOf(bytes, (byte)0) >= 0)
                throw new ArgumentException("a 0 byte would end the text there", "bytes");
            byte[] text = new byte[bytes.Length + 1];
            Array.Copy(bytes, text, bytes.Length);
            return text;
        }

        /// <summary>UARTClose.</summary>
        protected override void Close(uint port) { Tarvik.UARTClose(port); }
    }
}
