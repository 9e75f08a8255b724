// Board.cs - the module's system services: versions, physical registers, backlight, touch,
// registry persistence, the kernel debug link and the reset.
using System;

namespace Velna
{
    /// <summary>The module's system services.</summary>
    public static class Board
    {
        /// <summary>The library's version (1.4.0.1).</summary>
        public static Version LibraryVersion { get { return FromWord(Tarvik.TarvikGetVersion()); } }

        /// <summary>The board-support package's version; 0.0.0.0 when it can't be read.</summary>
        public static Version BspVersion { get { return FromWord(Tarvik.BSPGetVersion()); } }

        /// <summary>The operating-system image's version; 0.0.0.0 when it can't be read.</summary>
        public static Version ImageVersion { get { return FromWord(Tarvik.WinCEImageGetVersion()); } }

        /// <summary>A version word, one byte for each part, the major in the top byte.</summary>
        public static Version FromWord(uint word)
        {
            return new Version((int)(word >> 24), (int)((word >> 16) & 0xFF), (int)((word >> 8) & 0xFF), (int)(word & 0xFF));
        }

        /// <summary>
        /// Reads a register of width bits (8, 16, 32) through driver device (1 to 9). A failed read
        /// answers 0, as a register holding 0 does.
        /// </summary>
        public static uint ReadRegister(byte device, uint address, byte width)
        {
            return Tarvik.ReadPhysicalAddress(device, address, width);
        }

        /// <summary>Writes a register.</summary>
        public static void WriteRegister(byte device, uint address, byte width, uint value)
        {
            if (Tarvik.WritePhysicalAddress(device, address, width, value, 0) != 1)
                throw new TarvikException("WritePhysicalAddress");
        }

        /// <summary>
        /// Writes a register and answers what it reads back. A failure answers 0xFFFFFFFF, which a
        /// register can also read back; this method cannot tell the two apart and throws on neither.
        /// </summary>
        public static uint WriteRegisterAndReadBack(byte device, uint address, byte width, uint value)
        {
            return Tarvik.WritePhysicalAddress(device, address, width, value, 1);
        }

        /// <summary>Sets the backlight's brightness level.</summary>
        public static void SetBacklightLevel(uint level)
        {
            TarvikException.Check(Tarvik.SetBacklightLevel(level), "SetBacklightLevel");
        }

        /// <summary>Sets after how long and whether the backlight switches off; SaveRegistry keeps it.</summary>
        public static void SetBacklightSuspend(uint timeout, bool enable)
        {
            TarvikException.Check(Tarvik.SetBacklightSuspend(timeout, enable ? (byte)1 : (byte)0), "SetBacklightSuspend");
        }

        /// <summary>Runs the touch-screen calibration.</summary>
        public static void CalibrateTouch()
        {
            TarvikException.Check(Tarvik.CalibrateTouch(), "CalibrateTouch");
        }

        /// <summary>Deletes the stored touch calibration; false when there was none.</summary>
        public static bool ClearTouchCalibration() { return Tarvik.ClearTouchCalibrationData() == 1; }

        /// <summary>Writes both registry hives through to persistent storage.</summary>
        public static void SaveRegistry() { TarvikException.Check(Tarvik.SaveRegistry(), "SaveRegistry"); }

        /// <summary>Saves both registry hives to the storage card.</summary>
        public static void CreateRegistryBackup()
        {
            TarvikException.Check(Tarvik.CreateRegistryBackup(), "CreateRegistryBackup");
        }

        /// <summary>Restores both hives from the storage card and resets the module; false when a backup file is missing.</summary>
        public static bool RestoreRegistryBackup() { return Tarvik.RestoreRegistryBackup() == 1; }

        /// <summary>Switches the kernel debug link's power on or off.</summary>
        public static void SetKitlPower(bool on)
        {
            TarvikException.Check(Tarvik.ControlPowerKITL(on ? (byte)1 : (byte)0), "ControlPowerKITL");
        }

        /// <summary>Switches the kernel debug link off and on again.</summary>
        public static void RestartKitl() { TarvikException.Check(Tarvik.RestartPowerKITL(), "RestartPowerKITL"); }

        /// <summary>Resets the module; may never return.</summary>
        public static void SoftReset() { Tarvik.SoftReset(); }
    }
}
