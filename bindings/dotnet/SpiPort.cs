// SpiPort.cs - an SPI port held open: configure it, exchange bits with the device on it.
using System;

namespace Velna
{
    /// <summary>
    /// Port 0 ("SPI1:") or 1 ("SPI2:"), opened by the constructor and closed by Dispose. Both ports
    /// share one completion event: closing one makes the other's exchanges stop waiting for
    /// completion until it is configured again, so configure after the other port closes. The
    /// event holds one completion, so exchanges on the two ports at once could lose one and leave
    /// a thread waiting for ever: every call that uses the event (configure, exchange, close) takes
    /// one lock shared by both ports, and ports may be used from threads of their own.
    /// </summary>
    public sealed class SpiPort : LibraryPort
    {
        // One for both ports, as the completion event is.
        private static readonly object eventLock = new object();

        /// <summary>Opens a port.</summary>
        public SpiPort(uint port)
            : base(port)
        {
            TarvikException.Check(Tarvik.SPIOpen(port), "SPIOpen");
            Opened();
        }

        /// <summary>Sets the clock mode (0 to 3), the frequency in Hz and the configuration byte.</summary>
        public void Configure(uint mode, uint frequency, byte configByte)
        {
            if (mode > 3) throw new ArgumentOutOfRangeException("mode");
            lock (eventLock)
                TarvikException.Check(Tarvik.SPIConfigure(Live(), mode, frequency, configByte), "SPIConfigure");
        }

        /// <summary>Sends all of tx and answers as many bytes received.</summary>
        public byte[] Exchange(byte[] tx)
        {
            if (tx == null) throw new ArgumentNullException("tx");
            return Exchange(tx, tx.Length * 8);
        }

        /// <summary>
        /// Sends bitLength bits from tx and answers the bits received, in whole bytes. tx must hold
        /// them: the driver reads and writes as many bytes as the bits need.
        /// </summary>
        public byte[] Exchange(byte[] tx, int bitLength)
        {
            if (tx == null) throw new ArgumentNullException("tx");
            if (bitLength < 0 || bitLength > int.MaxValue - 7) throw new ArgumentOutOfRangeException("bitLength");
            int bytes = (bitLength + 7) / 8;
            if (tx.Length < bytes) throw new ArgumentException("tx holds fewer bytes than bitLength needs", "tx");
            byte[] rx = new byte[bytes];
            lock (eventLock)
                TarvikException.Check(Tarvik.SPIExchange(Live(), bitLength, tx, rx), "SPIExchange");
            return rx;
        }

        /// <summary>SPIClose.</summary>
        protected override void Close(uint port)
        {
            lock (eventLock) Tarvik.SPIClose(port);
        }
    }
}
