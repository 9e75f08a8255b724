// CanPort.cs - the CAN controller held open: its mode and timing, filters, the two message
// records and frames in and out.
using System;

namespace Velna
{
    /// <summary>Which of the controller's two message records.</summary>
    public enum CanDirection : byte
    {
        /// <summary>The receive record.</summary>
        Receive = 0,
        /// <summary>The transmit record, marked as one that sends.</summary>
        Transmit = 1
    }

    /// <summary>A message record's fields as CANGetMessageParameter reads them back.</summary>
    public struct CanMessageParameters
    {
        /// <summary>The identifier.</summary>
        public uint MessageId;
        /// <summary>Data bytes of the last transfer.</summary>
        public uint DataLength;
        /// <summary>The frame flag.</summary>
        public uint FrameFlag;
        /// <summary>The auxiliary byte.</summary>
        public byte AuxByte;
        /// <summary>The auxiliary word.</summary>
        public uint AuxValue;
        /// <summary>1 for a record that sends.</summary>
        public uint TransmitFlag;
    }

    /// <summary>
    /// The CAN controller (port 1), opened by the constructor and closed by Dispose. The library
    /// keeps the message records, the filter and the status words across a close.
    /// </summary>
    public sealed class CanPort : LibraryPort
    {
        /// <summary>
        /// Opens the controller. A refused open is not closed here: the controller may be open
        /// elsewhere; after a failed open, Tarvik.CANClose lets it be opened again.
        /// </summary>
        public CanPort(uint port)
            : base(port)
        {
            TarvikException.Check(Tarvik.CANOpen(port), "CANOpen");
            Opened();
        }

        /// <summary>Sets the identifier format, the bit rate and the TLPRIO and loopback modes; both records lose their data.</summary>
        public void ConfigureMode(bool extendedId, uint bitrate, bool tlprio, bool loopback)
        {
            TarvikException.Check(Tarvik.CANConfigureMode(Live(), extendedId ? 1u : 0u, bitrate, tlprio ? (byte)1 : (byte)0,
                                                          loopback ? (byte)1 : (byte)0), "CANConfigureMode");
        }

        /// <summary>Sets the raw bit timing.</summary>
        public void ConfigureTiming(ushort prescaler, byte propseg, byte phase1seg, byte phase2seg, byte auxTiming)
        {
            TarvikException.Check(Tarvik.CANConfigureTiming(Live(), prescaler, propseg, phase1seg, phase2seg, auxTiming),
                                  "CANConfigureTiming");
        }

        /// <summary>Adds a receive filter beside any earlier one.</summary>
        public void AddFilter(int filterId, uint filterMask, byte filterFlag, byte filterOption)
        {
            TarvikException.Check(Tarvik.CANConfigureFilter(Live(), filterId, filterMask, filterFlag, filterOption),
                                  "CANConfigureFilter");
        }

        /// <summary>Removes the last filter added.</summary>
        public void RemoveFilter()
        {
            TarvikException.Check(Tarvik.CANResetFilter(Live()), "CANResetFilter");
        }

        /// <summary>Prepares a message record; sends nothing.</summary>
        public void ConfigureMessage(CanDirection direction, uint frameFlag, uint messageId, byte auxByte, uint auxValue)
        {
            TarvikException.Check(Tarvik.CANConfigureMessage(Live(), frameFlag, messageId, auxByte, auxValue, (byte)direction),
                                  "CANConfigureMessage");
        }

        /// <summary>Reads back a message record, with what the driver wrote in the last transfer.</summary>
        public CanMessageParameters GetMessageParameters(CanDirection direction)
        {
            CanMessageParameters p;
            TarvikException.Check(Tarvik.CANGetMessageParameter(Live(), out p.MessageId, out p.DataLength, out p.FrameFlag,
                                                                 out p.AuxByte, out p.AuxValue, out p.TransmitFlag,
                                                                 (byte)direction), "CANGetMessageParameter");
            return p;
        }

        /// <summary>Sends data as one message with the transmit record; answers the driver's status (0 = sent).</summary>
        public uint Write(byte[] data)
        {
            if (data == null) throw new ArgumentNullException("data");
            uint status;
            TarvikException.Check(Tarvik.CANWrite(Live(), data, data.Length, out status), "CANWrite");
            return status;
        }

        /// <summary>
        /// Receives one message into buffer (at least one byte; zeros where nothing came). False
        /// when nothing was received; status is the driver's status either way.
        /// </summary>
        public bool TryRead(byte[] buffer, out uint status)
        {
            if (buffer == null) throw new ArgumentNullException("buffer");
            if (buffer.Length < 1) throw new ArgumentException("the buffer must hold a byte", "buffer");
            return Tarvik.CANRead(Live(), buffer, buffer.Length, out status) == 1;
        }

        /// <summary>CANClose.</summary>
        protected override void Close(uint port) { Tarvik.CANClose(port); }
    }
}
