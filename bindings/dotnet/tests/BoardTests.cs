// BoardTests.cs - the binding on the virtual board: each family through the declarations and the
// idiomatic layer, checked against what the board's models and trace saw.
using System;
using System.Text;
using System.Threading;

namespace Velna.Tests
{
    static class BoardTests
    {
        // ---- Versions ----

        [Test]
        static void VersionsComeFromTheLibraryAndTheRegistry()
        {
            Check.Equal(0x01040001u, Tarvik.TarvikGetVersion(), "TarvikGetVersion");
            Check.Equal("1.4.0.1", Board.LibraryVersion.ToString(), "Board.LibraryVersion");
            VBoard.Apply(@"registry HKLM\Ident BSPVersionNumber dword 0x00030004");
            VBoard.Apply(@"registry HKLM\Ident ImageVersionNumber dword 0x0008000A");
            Check.Equal(0x00030004u, Tarvik.BSPGetVersion(), "BSPGetVersion");
            Check.Equal(0x0008000Au, Tarvik.WinCEImageGetVersion(), "WinCEImageGetVersion");
            Check.TraceHas("RegQueryValueExW HKLM\\Ident \"BSPVersionNumber\" size 4 -> type 4 size 4",
                           "RegQueryValueExW HKLM\\Ident \"ImageVersionNumber\" size 4 -> type 4 size 4");
            VBoard.Apply(@"registry-delete HKLM\Ident ImageVersionNumber");
            Check.Equal("0.0.0.0", Board.ImageVersion.ToString(), "an unreadable version");
            Check.True(VBoard.DebugText().Contains("ERROR: Can't read registry value ImageVersionNumber\r\n"),
                       "the read error's debug line");
        }

        // ---- GPIO ----

        [Test]
        static void ARisingEdgeOnADrivenInputSetsTheInterruptsEvent()
        {
            // Index 3 is bank 0, pin 5.
            using (GpioPin button = new GpioPin(3))
            {
                NativeEvent pressed = button.EnableInterrupt(GpioInterruptMode.RisingEdge);
                GpioPinState armed = VBoard.Pin(0, 5);
                Check.Equal(2u, armed.mode, "the pin's interrupt mode");
                Check.Equal(1, armed.has_event, "an event is registered");
                Check.Equal(0, armed.output, "the pin is an input");
                Check.Equal(1, VBoard.OpenHandles("GIO1:"), "the library keeps the driver open");
                Check.True(!pressed.Wait(0), "not set before the edge");

                VBoard.vboard_gpio_drive_input(0, 5, 1);
                Check.True(pressed.Wait(2000), "set by the rising edge");
                Check.Equal(1u, VBoard.vboard_gpio_interrupt_count().ToUInt32(), "interrupts fired");
                VBoard.vboard_gpio_drive_input(0, 5, 0);
                Check.True(!pressed.Wait(0), "a falling edge does not set it");
            }
            Check.Equal(0, VBoard.Pin(0, 5).has_event, "the event is released");
            Check.Equal(0, VBoard.OpenHandles("GIO1:"), "the driver handle is closed");
            Check.TraceHas("CreateEventW auto reset -> h1");
        }

        [Test]
        static void OutputsAndTheInvertedReadReachThePads()
        {
            using (GpioPin led = new GpioPin(1)) // bank 0, pin 2
            {
                led.MakeOutput(true);
                GpioPinState state = VBoard.Pin(0, 2);
                Check.Equal(1, state.output, "an output");
                Check.Equal(1, state.latch, "driven high");
                led.Write(false);
                Check.Equal(0, VBoard.Pin(0, 2).latch, "driven low");
            }
            new GpioPin(3).MakeInput();
            VBoard.vboard_gpio_drive_input(0, 5, 0);
            Check.Equal((byte)1, Tarvik.GPIOGetPin(3), "GPIOGetPin answers 1 for a low pad");
            Check.True(new GpioPin(3).IsLow, "IsLow on a low pad");
            VBoard.vboard_gpio_drive_input(0, 5, 1);
            Check.Equal((byte)0, Tarvik.GPIOGetPin(3), "GPIOGetPin answers 0 for a high pad");
            Check.True(!new GpioPin(3).IsLow, "IsLow on a high pad");
        }

        [Test]
        static void AFailedExportBecomesAnExceptionNamingIt()
        {
            VBoard.vboard_clear_trace();
            Check.Throws("GPIOSetDirection", delegate { new GpioPin(0).MakeOutput(true); });
            Check.Equal("VELNA gpio doesn't exist\r\n", VBoard.DebugText(), "the library's reason");
            Check.Equal(0, VBoard.TraceLines().Length - CountDebugLines(), "no driver call");

            VBoard.Apply("remove-driver GIO1:");
            using (GpioPin pin = new GpioPin(3))
                Check.Throws("GPIOSetInterrupt", delegate { pin.EnableInterrupt(GpioInterruptMode.BothEdges); });
            // The event made for the refused interrupt was closed again: CreateEventW h1, CloseHandle h1.
            Check.TraceHas("CreateEventW auto reset -> h1", "CloseHandle h1 (event) -> ok");
        }

        static int CountDebugLines()
        {
            int n = 0;
            foreach (string line in VBoard.TraceLines())
                if (line.StartsWith("NKDbgPrintfW ")) ++n;
            return n;
        }

        // ---- I2C ----

        [Test]
        static void EepromBytesGoOutAndComeBack()
        {
            byte[] message = { 0xCA, 0xFE, 0x01 };
            byte[] back = new byte[3];
            Check.Equal((byte)1, Tarvik.I2CWriteMultipleBytes(0, 0, 0x50, 0x20, 3, message), "I2CWriteMultipleBytes");
            Check.TraceHas("I2C2: TRANSFER [W 0x50: 20 00 CA FE 01] -> ok");
            // The register and the 0x00 byte are the EEPROM's two address bytes: offset 0x2000.
            Check.Bytes(message, VBoard.Peek(0, 0x50, 0x2000, 3), "the EEPROM's memory");
            Check.Equal((byte)1, Tarvik.I2CReadMultipleBytes(0, 0, 0x50, 0x20, 3, back), "I2CReadMultipleBytes");
            Check.Bytes(message, back, "read back");

            VBoard.vboard_i2c_fill(0, 0x50, 0x2A00, new byte[] { 0x5A, 0x77 }, new UIntPtr(2u));
            byte one;
            Check.Equal((byte)1, Tarvik.I2CRead(0, 0, 0x50, 0x2A, out one), "I2CRead");
            Check.Equal((byte)0x5A, one, "one byte");

            using (I2cBus bus = new I2cBus(0))
            {
                bus.Open(I2cSpeed.Fast400k);
                Check.Equal(1, VBoard.OpenHandles("I2C2:"), "the bus is kept open");
                bus.Write(0x50, 0x30, new byte[] { 1, 2, 3, 4, 5 });
                Check.Bytes(new byte[] { 1, 2, 3, 4, 5 }, bus.Read(0x50, 0x30, 5), "the layer's round trip");
                bus.WriteByte(0x50, 0x31, 0xEE);
                Check.Equal((byte)0xEE, bus.ReadByte(0x50, 0x31), "the layer's byte");
                Check.Throws("I2CWrite", delegate { bus.WriteByte(0x52, 0, 1); }); // nobody at 0x52
            }
            Check.Equal(0, VBoard.OpenHandles("I2C2:"), "closed by Dispose");
            Check.Equal(8u, VBoard.vboard_i2c_transfer_count(0).ToUInt32(), "transfers on bus 0");
        }

        // ---- SPI ----

        [Test]
        static void SpiExchangesBitsWithTheFlashAndTheLoopback()
        {
            using (SpiPort flash = new SpiPort(0))
            using (SpiPort loop = new SpiPort(1))
            {
                flash.Configure(3, 1000000, 0);
                byte[] id = new byte[4];
                Check.Equal((byte)1, Tarvik.SPIExchange(0, 32, new byte[] { 0x9F, 0, 0, 0 }, id), "SPIExchange");
                Check.Bytes(new byte[] { 0xFF, 0xEF, 0x40, 0x14 }, id, "the flash's identification");
                loop.Configure(0, 4000000, 0xFF);
                Check.Bytes(new byte[] { 0xA5, 0x3C }, loop.Exchange(new byte[] { 0xA5, 0x3C }), "through the loopback");
                Check.Bytes(new byte[] { 0xA5 }, loop.Exchange(new byte[] { 0xA5, 0x3C }, 4), "four bits in a byte");
                Check.TraceHas("SPI1: EXCHANGE cs 2 mode 3 1000000 Hz 32 bits tx 9F 00 00 00 rx FF EF 40 14 signal \"SPI_EVENT\" -> ok",
                               "SPI2: EXCHANGE cs 0 mode 0 4000000 Hz 16 bits tx A5 3C rx A5 3C signal \"SPI_EVENT\" -> ok");
                Check.Equal(3u, VBoard.vboard_spi_exchange_count().ToUInt32(), "exchanges");
                // What the library would hand to the driver unchecked is refused before the call.
                try
                {
                    loop.Exchange(new byte[] { 1 }, 9);
                    throw new CheckFailed("nine bits from one byte");
                }
                catch (ArgumentException) { }
                Check.Equal(3u, VBoard.vboard_spi_exchange_count().ToUInt32(), "no exchange for a short buffer");
            }
            Check.Equal(0, VBoard.OpenHandles("SPI1:") + VBoard.OpenHandles("SPI2:"), "both ports closed");
            SpiPort closed = new SpiPort(1);
            closed.Dispose();
            closed.Dispose(); // a second Dispose closes nothing
            try
            {
                closed.Exchange(new byte[] { 1 });
                throw new CheckFailed("an exchange on a disposed port");
            }
            catch (ObjectDisposedException) { }
            Check.Equal(3u, VBoard.vboard_spi_exchange_count().ToUInt32(), "nothing sent on a disposed port");
        }

        [Test]
        static void SpiPortsOnThreadsOfTheirOwnTakeTurnsOnTheSharedEvent()
        {
            // Without one lock for both ports, two exchanges in flight at once merge their
            // completions; the board reports that as a misuse, and the module would hang.
            using (SpiPort flash = new SpiPort(0))
            using (SpiPort loop = new SpiPort(1))
            {
                flash.Configure(0, 1000000, 0);
                loop.Configure(0, 1000000, 0);
                VBoard.vboard_record("off");
                SpiPort[] ports = { flash, loop };
                Thread[] threads = new Thread[2];
                for (int i = 0; i < 2; ++i)
                {
                    SpiPort port = ports[i];
                    threads[i] = new Thread(delegate()
                    {
                        for (int round = 0; round < 20000; ++round) port.Exchange(new byte[] { 0x05 });
                    });
                    threads[i].Start();
                }
                foreach (Thread t in threads) Check.True(t.Join(30000), "both threads end");
            }
        }

        // ---- UART ----

        [Test]
        static void BytesWrittenOnCom1AreReadOnCom2ThroughTheCable()
        {
            VBoard.vboard_virtual_sleep(1);
            using (UartPort com1 = new UartPort(1, 115200, UartFlowControl.None))
            using (UartPort com2 = new UartPort(2, 115200, UartFlowControl.None))
            {
                byte[] received = null;
                Exception failure = null;
                Thread reader = new Thread(delegate()
                {
                    try { received = com2.Read(4); }
                    catch (Exception e) { failure = e; }
                });
                reader.IsBackground = true; // a read that never returns must not hold the process
                reader.Start();
                Check.Equal(1, VBoard.vboard_serial_await_blocked("COM2:", 5000), "the read waits on COM2");
                Check.Equal((byte)1, Tarvik.UARTWrite(1, Encoding.ASCII.GetBytes("ping\0")), "UARTWrite");
                Check.True(reader.Join(5000), "the read returned");
                Check.True(failure == null, "the read succeeded: " + failure);
                Check.Equal("ping", Encoding.ASCII.GetString(received), "received on COM2");
                Check.Equal("ping", Encoding.ASCII.GetString(VBoard.Transmitted("COM1:")), "sent on COM1");
                Check.TraceHas("COM1: WriteFile 4 bytes [70 69 6E 67] -> 4 written");

                // The layer terminates the text itself and refuses a 0 inside it.
                com1.Write("ok");
                Check.Equal("pingok", Encoding.ASCII.GetString(VBoard.Transmitted("COM1:")), "the layer's text");
                try
                {
                    com1.Write(new byte[] { 0x41, 0, 0x42 });
                    throw new CheckFailed("a 0 byte inside was taken");
                }
                catch (ArgumentException) { }
            }
            Check.Equal(0, VBoard.OpenHandles("COM1:") + VBoard.OpenHandles("COM2:"), "both ports closed");
        }

        [Test]
        static void ADcbReachesTheSerialDriverFieldByField()
        {
            VBoard.vboard_virtual_sleep(1);
            using (UartPort com2 = new UartPort(2, 9600, UartFlowControl.None))
            {
                DCB dcb = new DCB();
                dcb.BaudRate = 57600;
                dcb.ByteSize = 7;
                dcb.Parity = 2;   // even
                dcb.StopBits = 2; // two
                dcb.fBinary = true;
                dcb.fOutxCtsFlow = true;
                dcb.fInX = true;
                dcb.fDtrControl = 2;
                dcb.fRtsControl = 3;
                Check.Equal((byte)1, Tarvik.UARTConfigureStructure(2, ref dcb), "UARTConfigureStructure");
                Check.TraceHas("COM2: SetCommState 57600 7E2 cts xon/xoff(in) dtr=handshake rts=toggle -> ok");
                Check.Equal(0u, dcb.DCBlength, "the caller's record is left alone");

                dcb = new DCB();
                dcb.BaudRate = 19200;
                dcb.ByteSize = 8;
                dcb.fOutxDsrFlow = true;
                dcb.fOutX = true;
                com2.Configure(dcb);
                Check.TraceHas("COM2: SetCommState 19200 8N1 dsr xon/xoff(out) -> ok");
            }
        }

        // ---- CAN ----

        [Test]
        static void AFrameComesBackInLoopbackWithItsParameters()
        {
            using (CanPort can = new CanPort(1))
            {
                can.ConfigureMode(false, 500000, false, true);
                can.ConfigureMessage(CanDirection.Transmit, 0, 0x123, 0x11, 0x22);
                can.ConfigureMessage(CanDirection.Receive, 0, 0, 0, 0);
                uint status;
                Check.Equal((byte)1, Tarvik.CANWrite(1, new byte[] { 0xDE, 0xAD, 0xBE, 0xEF }, 4, out status), "CANWrite");
                Check.Equal(0u, status, "sent");
                Check.Equal("123#DEADBEEF\n", VBoard.CanSentText(), "the frame on the bus");
                Check.Equal(1u, VBoard.vboard_can_pending().ToUInt32(), "our frame back in the receive queue");

                byte[] buffer = new byte[8];
                Check.True(can.TryRead(buffer, out status), "CANRead");
                Check.Equal(0u, status, "received");
                Check.Bytes(new byte[] { 0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 0 }, buffer, "the frame's data");

                uint id, length, frameFlag, auxValue, transmitFlag;
                byte auxByte;
                Check.Equal((byte)1, Tarvik.CANGetMessageParameter(1, out id, out length, out frameFlag, out auxByte,
                                                                   out auxValue, out transmitFlag, 1), "CANGetMessageParameter");
                Check.Equal(0x123u, id, "transmit id");
                Check.Equal(0x11, (int)auxByte, "transmit aux byte");
                Check.Equal(0x22u, auxValue, "transmit aux value");
                Check.Equal(1u, transmitFlag, "a record that sends");
                CanMessageParameters rx = can.GetMessageParameters(CanDirection.Receive);
                Check.Equal(0x123u, rx.MessageId, "received id");
                Check.Equal(4u, rx.DataLength, "received length");
                Check.Equal(0u, rx.TransmitFlag, "the receive record");

                Check.True(!can.TryRead(buffer, out status), "an empty queue reads nothing");
                Check.TraceHas("CAN1: LOOPBACK on -> ok", "CAN1: TX 123#DEADBEEF status 0 -> ok",
                               "CAN1: RX 123#DEADBEEF status 0 -> ok");
            }
            Check.Equal(0, VBoard.OpenHandles("CAN1:"), "closed by Dispose");
        }

        // ---- Physical registers ----

        [Test]
        static void RegistersAreReadAndWrittenThroughThePhysicalDrivers()
        {
            const uint scratch = 0x00907000; // on-chip RAM
            const uint ccr = 0x020C4000;     // the clock controller's CCR
            Check.Equal(0x040116FFu, Tarvik.ReadPhysicalAddress(1, ccr, 32), "CCR's reset value");
            Check.Equal(0x12345678u, Tarvik.WritePhysicalAddress(2, scratch, 32, 0x12345678, 1), "read back");
            Check.Equal(0x12345678u, VBoard.PeekRegister(scratch, 32), "the register");
            Board.WriteRegister(3, scratch + 4, 16, 0xBEEF);
            Check.Equal(0xBEEFu, VBoard.PeekRegister(scratch + 4, 16), "a 16-bit write");
            VBoard.vboard_phy_poke(scratch + 8, 32, 0xCAFEF00D);
            Check.Equal(0xCAFEF00Du, Board.ReadRegister(9, scratch + 8, 32), "a value poked from outside");
            Check.Equal(5u, VBoard.vboard_phy_access_count().ToUInt32(), "accesses (the read-back is one more)");
            Check.Throws("WritePhysicalAddress", delegate { Board.WriteRegister(0, scratch, 32, 1); });
            Check.True(VBoard.DebugText().Contains("Werr: WritePhysicalAddress\r\n"), "the failure's debug line");
        }
    }
}
