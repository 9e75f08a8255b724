// TarvikException.cs - how the idiomatic layer reports an export that answered failure, and the
// unnamed CE event it hands out for interrupts.
using System;

namespace Velna
{
    /// <summary>
    /// An export answered failure. The library says why only on the kernel debug output, so the
    /// exception names the export; read the debug output for the reason.
    /// </summary>
    public class TarvikException : Exception
    {
        private readonly string export;

        /// <summary>An export that answered failure.</summary>
        public TarvikException(string export)
            : base(export + " failed (the reason is on the kernel debug output)")
        {
            this.export = export;
        }

        /// <summary>The export that failed, as Tarvik.h names it.</summary>
        public string Export { get { return export; } }

        /// <summary>Throws unless a truth-value result is exactly 1.</summary>
        internal static void Check(byte result, string export)
        {
            if (result != 1) throw new TarvikException(export);
        }
    }

    /// <summary>An unnamed CE event (CreateEventW), closed by Dispose.</summary>
    public sealed class NativeEvent : IDisposable
    {
        private IntPtr handle;

        /// <summary>Creates an unnamed event, reset, auto-reset unless manualReset.</summary>
        public NativeEvent(bool manualReset)
        {
            handle = Coredll.CreateEventW(IntPtr.Zero, manualReset ? 1 : 0, 0, IntPtr.Zero);
            if (handle == IntPtr.Zero) throw new TarvikException("CreateEventW");
        }

        /// <summary>The event's handle, for the library's calls.</summary>
        public IntPtr Handle
        {
            get
            {
                if (handle == IntPtr.Zero) throw new ObjectDisposedException("NativeEvent");
                return handle;
            }
        }

        /// <summary>Waits up to milliseconds (-1: without limit); true when the event was set.</summary>
        public bool Wait(int milliseconds)
        {
            uint answer = Coredll.WaitForSingleObject(Handle, milliseconds < 0 ? Coredll.INFINITE : (uint)milliseconds);
            if (answer == Coredll.WAIT_FAILED) throw new TarvikException("WaitForSingleObject");
            return answer == Coredll.WAIT_OBJECT_0;
        }

        /// <summary>Sets the event.</summary>
        public void Set()
        {
            if (Coredll.EventModify(Handle, Coredll.EVENT_SET) == 0) throw new TarvikException("EventModify");
        }

        /// <summary>Closes the event's handle.</summary>
        public void Dispose()
        {
            if (handle != IntPtr.Zero) Coredll.CloseHandle(handle);
            handle = IntPtr.Zero;
        }
    }
}
