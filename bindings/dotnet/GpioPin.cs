// GpioPin.cs - one module GPIO by its index: direction, level and an interrupt with its event.
using System;

namespace Velna
{
    /// <summary>
    /// A GPIO by module index (1 to 23 and 34; 24 to 29 are the serial ports' RTS lines). Dispose
    /// releases an interrupt the pin armed, then closes its event.
    /// </summary>
    public sealed class GpioPin : IDisposable
    {
        private readonly uint index;
        private NativeEvent interrupt;

        /// <summary>The GPIO at a module index; nothing is sent to the driver yet.</summary>
        public GpioPin(uint index) { this.index = index; }

        /// <summary>The module index.</summary>
        public uint Index { get { return index; } }

        /// <summary>Makes the pin an output driving level.</summary>
        public void MakeOutput(bool high)
        {
            TarvikException.Check(Tarvik.GPIOSetDirection(index, 0, high ? (byte)1 : (byte)0), "GPIOSetDirection");
        }

        /// <summary>Makes the pin an input (the library sends level 0 with it).</summary>
        public void MakeInput()
        {
            TarvikException.Check(Tarvik.GPIOSetDirection(index, 1, 0), "GPIOSetDirection");
        }

        /// <summary>Drives the pin high or low.</summary>
        public void Write(bool high) { Tarvik.GPIOSetPin(index, high ? (byte)1 : (byte)0); }

        /// <summary>
        /// True when the pin reads low. False when it reads high - or could not be read: the
        /// library answers both the same way, so a false is no proof of a high level.
        /// </summary>
        public bool IsLow { get { return Tarvik.GPIOGetPin(index) == 1; } }

        /// <summary>
        /// Arms the pin's interrupt in mode with an event of the pin's own, which the driver sets
        /// each time it fires (again on a pin already armed: the new mode and a new event).
        /// </summary>
        public NativeEvent EnableInterrupt(GpioInterruptMode mode)
        {
            NativeEvent fresh = new NativeEvent(false);
            if (Tarvik.GPIOSetInterrupt(index, (uint)mode, fresh.Handle) != 1)
            {
                fresh.Dispose();
                throw new TarvikException("GPIOSetInterrupt");
            }
            // The library now holds the new event; the old one is no longer signalled.
            if (interrupt != null) interrupt.Dispose();
            interrupt = fresh;
            return fresh;
        }

        /// <summary>The armed interrupt's event, or null.</summary>
        public NativeEvent Interrupt { get { return interrupt; } }

        /// <summary>Releases the interrupt and closes its event; nothing when none is armed.</summary>
        public void DisableInterrupt()
        {
            if (interrupt == null) return;
            // The driver handle is closed even when the driver refused the release.
            Tarvik.GPIOClearInterrupt(index);
            interrupt.Dispose();
            interrupt = null;
        }

        /// <summary>Releases an armed interrupt.</summary>
        public void Dispose() { DisableInterrupt(); }
    }
}
