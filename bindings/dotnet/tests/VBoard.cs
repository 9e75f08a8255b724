// VBoard.cs - the virtual board's C control API (vboard_c.h), P/Invoked for the tests: set the
// board up, drive it and read back what the library did. Host only: these are plain char
// strings, UTF-8, and the texts the board answers are freed with vboard_free.
using System;
using System.Runtime.InteropServices;

namespace Velna.Tests
{
    [StructLayout(LayoutKind.Sequential)]
    struct GpioPinState
    {
        public int output;
        public int latch;
        public int input;
        public uint mode;
        public int has_event;
    }

    static class VBoard
    {
        const string Library = "libtarvik_vboard.so";

        [DllImport(Library)] public static extern void vboard_reset();
        [DllImport(Library)] static extern IntPtr vboard_apply([MarshalAs(UnmanagedType.LPStr)] string line);
        [DllImport(Library)] public static extern void vboard_free(IntPtr text);
        [DllImport(Library)] static extern IntPtr vboard_debug_text();
        [DllImport(Library)] public static extern void vboard_clear_debug();
        [DllImport(Library)] static extern IntPtr vboard_trace_text();
        [DllImport(Library)] public static extern void vboard_clear_trace();
        [DllImport(Library)] public static extern UIntPtr vboard_open_driver_handles([MarshalAs(UnmanagedType.LPStr)] string device);
        [DllImport(Library)] public static extern ulong vboard_misuse_count();
        [DllImport(Library)] static extern IntPtr vboard_misuses_text();
        [DllImport(Library)] public static extern void vboard_virtual_sleep(int on);
        [DllImport(Library)] public static extern int vboard_record([MarshalAs(UnmanagedType.LPStr)] string setting);

        [DllImport(Library)] public static extern int vboard_gpio_drive_input(int bank, int pin, int level);
        [DllImport(Library)] public static extern int vboard_gpio_pin(int bank, int pin, out GpioPinState state);
        [DllImport(Library)] public static extern UIntPtr vboard_gpio_interrupt_count();

        [DllImport(Library)] public static extern UIntPtr vboard_spi_exchange_count();

        [DllImport(Library)] public static extern int vboard_i2c_fill(int bus, uint address, uint offset, byte[] bytes,
                                                                      UIntPtr count);
        [DllImport(Library)] public static extern UIntPtr vboard_i2c_peek(int bus, uint address, uint offset,
                                                                          [Out] byte[] buffer, UIntPtr count);
        [DllImport(Library)] public static extern UIntPtr vboard_i2c_transfer_count(int bus);

        [DllImport(Library)] public static extern UIntPtr vboard_serial_transmitted([MarshalAs(UnmanagedType.LPStr)] string port,
                                                                                    [Out] byte[] buffer, UIntPtr size);
        [DllImport(Library)] public static extern int vboard_serial_await_blocked([MarshalAs(UnmanagedType.LPStr)] string port,
                                                                                  uint milliseconds);

        [DllImport(Library)] public static extern int vboard_can_inject([MarshalAs(UnmanagedType.LPStr)] string frame);
        [DllImport(Library)] static extern IntPtr vboard_can_sent_text();
        [DllImport(Library)] public static extern UIntPtr vboard_can_pending();

        [DllImport(Library)] public static extern int vboard_phy_peek(uint address, uint width, out uint value);
        [DllImport(Library)] public static extern int vboard_phy_poke(uint address, uint width, uint value);
        [DllImport(Library)] public static extern UIntPtr vboard_phy_access_count();

        // ---- The same calls, answering managed values ----

        /// <summary>Applies a configuration line; throws with the board's reason when it does not apply.</summary>
        public static void Apply(string line)
        {
            string problem = Take(vboard_apply(line));
            if (problem != null) throw new InvalidOperationException("vboard_apply(" + line + "): " + problem);
        }

        public static string DebugText() { return Take(vboard_debug_text()) ?? ""; }
        public static string TraceText() { return Take(vboard_trace_text()) ?? ""; }
        public static string MisusesText() { return Take(vboard_misuses_text()) ?? ""; }
        public static string CanSentText() { return Take(vboard_can_sent_text()) ?? ""; }

        /// <summary>The trace's lines, without their "\n".</summary>
        public static string[] TraceLines()
        {
            string text = TraceText();
            if (text.Length == 0) return new string[0];
            return text.TrimEnd('\n').Split('\n');
        }

        public static int OpenHandles(string device) { return (int)vboard_open_driver_handles(device).ToUInt32(); }

        public static GpioPinState Pin(int bank, int pin)
        {
            GpioPinState state;
            if (vboard_gpio_pin(bank, pin, out state) != 1) throw new ArgumentException("no pin " + bank + "." + pin);
            return state;
        }

        public static byte[] Peek(int bus, uint address, uint offset, int count)
        {
            byte[] buffer = new byte[count];
            UIntPtr copied = vboard_i2c_peek(bus, address, offset, buffer, new UIntPtr((uint)count));
            if ((int)copied.ToUInt32() != count) throw new ArgumentException("no such I2C device or range");
            return buffer;
        }

        /// <summary>The most recent bytes a serial port sent, up to 64.</summary>
        public static byte[] Transmitted(string port)
        {
            byte[] buffer = new byte[64];
            int kept = (int)vboard_serial_transmitted(port, buffer, new UIntPtr(64u)).ToUInt32();
            byte[] sent = new byte[Math.Min(kept, 64)];
            Array.Copy(buffer, sent, sent.Length);
            return sent;
        }

        public static uint PeekRegister(uint address, uint width)
        {
            uint value;
            if (vboard_phy_peek(address, width, out value) != 1) throw new ArgumentException("refused register read");
            return value;
        }

        static string Take(IntPtr text)
        {
            if (text == IntPtr.Zero) return null;
            try { return Marshal.PtrToStringAnsi(text); }
            finally { vboard_free(text); }
        }
    }
}
