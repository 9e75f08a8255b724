// Coredll.cs - the few CE system calls the binding needs, imported from "coredll.dll" as the
// module's applications import them (on a host, Mono's dllmap sends them to the virtual board).
//
// Declared as the system declares them, parameter names included; BOOL is a 4-byte int. Event
// names are not marshalled as strings: CE reads UTF-16 there, while a Linux host's WCHAR is 4
// bytes, so the binding creates unnamed events only (name IntPtr.Zero).
using System;
using System.Runtime.InteropServices;

namespace Velna
{
    /// <summary>CE kernel calls for events and handles.</summary>
    public static class Coredll
    {
        /// <summary>The system library's name on the module (mapped to libtarvik_vboard.so on a host).</summary>
        public const string Library = "coredll.dll";

        /// <summary>EventModify's function: pulse the event.</summary>
        public const uint EVENT_PULSE = 1;
        /// <summary>EventModify's function: reset the event.</summary>
        public const uint EVENT_RESET = 2;
        /// <summary>EventModify's function: set the event.</summary>
        public const uint EVENT_SET = 3;
        /// <summary>WaitForSingleObject's answer when the object was signalled.</summary>
        public const uint WAIT_OBJECT_0 = 0;
        /// <summary>WaitForSingleObject's answer when the time ran out.</summary>
        public const uint WAIT_TIMEOUT = 0x102;
        /// <summary>WaitForSingleObject's answer on a bad handle.</summary>
        public const uint WAIT_FAILED = 0xFFFFFFFF;
        /// <summary>Wait without a time limit.</summary>
        public const uint INFINITE = 0xFFFFFFFF;

        /// <summary>
        /// Creates an event; answers IntPtr.Zero on failure. security must be IntPtr.Zero on CE;
        /// pass IntPtr.Zero for name unless you marshal a NUL-terminated WCHAR string yourself.
        /// </summary>
        [DllImport(Library)] public static extern IntPtr CreateEventW(IntPtr security, int manualReset, int initialState,
                                                                      IntPtr name);
        /// <summary>Sets (EVENT_SET), resets (EVENT_RESET) or pulses (EVENT_PULSE) an event; SetEvent and ResetEvent are this call.</summary>
        [DllImport(Library)] public static extern int EventModify(IntPtr @event, uint function);
        /// <summary>Waits for an object; WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED.</summary>
        [DllImport(Library)] public static extern uint WaitForSingleObject(IntPtr @object, uint milliseconds);
        /// <summary>Closes a handle; non-zero when it was open.</summary>
        [DllImport(Library)] public static extern int CloseHandle(IntPtr @object);
    }
}
