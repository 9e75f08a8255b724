// LibraryPort.cs - what the SPI, serial and CAN ports share: a port number the library keeps a
// driver open for between an open and a close, and the close in Dispose.
using System;

namespace Velna
{
    /// <summary>A port the library holds open until Dispose closes it.</summary>
    public abstract class LibraryPort : IDisposable
    {
        private readonly uint port;
        private bool open;

        /// <summary>A port by number; the derived class opens it and calls Opened.</summary>
        protected LibraryPort(uint port) { this.port = port; }

        /// <summary>The port number.</summary>
        public uint Port { get { return port; } }

        /// <summary>Marks the port open, so that Dispose closes it.</summary>
        protected void Opened() { open = true; }

        /// <summary>The port number for a call; refused once the port is disposed.</summary>
        protected uint Live()
        {
            if (!open) throw new ObjectDisposedException(GetType().Name);
            return port;
        }

        /// <summary>The library's close for the port.</summary>
        protected abstract void Close(uint port);

        /// <summary>Closes the port.</summary>
        public void Dispose()
        {
            if (open) Close(port);
            open = false;
        }
    }
}
