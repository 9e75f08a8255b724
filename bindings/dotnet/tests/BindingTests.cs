// BindingTests.cs - the declarations against include/Tarvik.h and the export list: one DllImport
// per export, with the header's parameter names, order and widths, and DCB laid out as the C
// compiler lays out the serial driver's record.
using System;
using System.Collections.Generic;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;

namespace Velna.Tests
{
    static class BindingTests
    {
        static string SourceFile(string relative)
        {
            string root = Environment.GetEnvironmentVariable("TARVIK_SOURCE_DIR");
            if (string.IsNullOrEmpty(root)) throw new CheckFailed("TARVIK_SOURCE_DIR names no source tree");
            return Path.Combine(root, relative);
        }

        sealed class CFunction
        {
            public string Name;
            public string Result;
            public List<KeyValuePair<string, string>> Parameters = new List<KeyValuePair<string, string>>();
        }

        // A header's function declarations, by name: comments, preprocessor lines and inline bodies
        // dropped, then every "type name(parameters);".
        static Dictionary<string, CFunction> HeaderFunctions(string header)
        {
            string text = File.ReadAllText(SourceFile(header));
            text = Regex.Replace(text, @"/\*.*?\*/", " ", RegexOptions.Singleline);
            text = Regex.Replace(text, @"//[^\n]*", " ");
            text = Regex.Replace(text, @"^\s*#[^\n]*", " ", RegexOptions.Multiline);
            // An inline function's body (SetEvent's) counts as its declaration.
            text = Regex.Replace(text, @"\)\s*\{[^{}]*\}", ");");
            Dictionary<string, CFunction> functions = new Dictionary<string, CFunction>();
            Regex declaration = new Regex(@"(?<result>(?:const\s+)?\w+\s*\**)\s*\b(?<name>\w+)\s*\((?<parameters>[^()]*)\)\s*;");
            foreach (Match m in declaration.Matches(text))
            {
                CFunction f = new CFunction();
                f.Name = m.Groups["name"].Value;
                f.Result = Normalise(m.Groups["result"].Value);
                string parameters = m.Groups["parameters"].Value.Trim();
                if (parameters != "void")
                {
                    foreach (string p in parameters.Split(','))
                    {
                        if (p.Trim() == "...")
                        {
                            // Variadic: no C# declaration can match it.
                            f.Parameters.Add(new KeyValuePair<string, string>("...", "..."));
                            continue;
                        }
                        Match pm = Regex.Match(p.Trim(), @"^(?<type>.*?[\s\*])(?<name>\w+)$", RegexOptions.Singleline);
                        if (!pm.Success) throw new CheckFailed(f.Name + ": cannot read parameter \"" + p.Trim() + "\"");
                        f.Parameters.Add(new KeyValuePair<string, string>(Normalise(pm.Groups["type"].Value), pm.Groups["name"].Value));
                    }
                }
                // The device's and the host's branches of the platform header declare the same calls.
                functions[f.Name] = f;
            }
            return functions;
        }

        static string Normalise(string cType)
        {
            string t = Regex.Replace(cType.Trim(), @"\s+", " ");
            return Regex.Replace(t, @"\s*\*", "*");
        }

        // What a C type may be declared as in C#: same width and signedness; a pointer as an array
        // or a by-reference parameter of the pointee's width, read-only ones [In] only.
        static readonly Dictionary<string, string[]> Allowed = Table();

        static Dictionary<string, string[]> Table()
        {
            Dictionary<string, string[]> t = new Dictionary<string, string[]>();
            t["void"] = new string[] { "System.Void" };
            t["uint8_t"] = new string[] { "System.Byte" };
            t["uint32_t"] = new string[] { "System.UInt32" };
            t["int32_t"] = new string[] { "System.Int32" };
            t["HANDLE"] = new string[] { "System.IntPtr" };
            t["uint8_t*"] = new string[] { "[Out] System.Byte[]", "out System.Byte" };
            t["uint32_t*"] = new string[] { "out System.UInt32" };
            t["const uint8_t*"] = new string[] { "[In] System.Byte[]" };
            t["const char*"] = new string[] { "[In] System.Byte[]" };
            t["const DCB*"] = new string[] { "[In] ref Velna.DCB" };
            // The system's types. A WCHAR string is an IntPtr: never a string, which Mono would
            // marshal as UTF-16 where the host's WCHAR is 4 bytes.
            t["DWORD"] = new string[] { "System.UInt32" };
            t["BOOL"] = new string[] { "System.Int32" };
            t["LPSECURITY_ATTRIBUTES"] = new string[] { "System.IntPtr" };
            t["LPCWSTR"] = new string[] { "System.IntPtr" };
            return t;
        }

        static string Describe(ParameterInfo p)
        {
            Type type = p.ParameterType;
            if (type.IsByRef)
                return (p.IsOut ? "out " : p.IsIn ? "[In] ref " : "ref ") + type.GetElementType().FullName;
            if (type.IsArray)
                return (p.IsIn ? "[In] " : "") + (p.IsOut ? "[Out] " : "") + type.FullName;
            return type.FullName;
        }

        static void ExpectDeclaredAs(string cType, string declared, string what)
        {
            string[] allowed;
            if (!Allowed.TryGetValue(cType, out allowed))
                throw new CheckFailed(what + ": the header's type " + cType + " has no C# counterpart in the table");
            if (Array.IndexOf(allowed, declared) < 0)
                throw new CheckFailed(what + ": " + cType + " is declared as " + declared + ", not as " + string.Join(" or ", allowed));
        }

        // The DllImports of a class, by name: each one only once.
        static Dictionary<string, MethodInfo> Imports(Type declarations)
        {
            Dictionary<string, MethodInfo> imports = new Dictionary<string, MethodInfo>();
            foreach (MethodInfo m in declarations.GetMethods(BindingFlags.Public | BindingFlags.NonPublic | BindingFlags.Static))
            {
                if ((m.Attributes & MethodAttributes.PinvokeImpl) == 0) continue;
                if (imports.ContainsKey(m.Name)) throw new CheckFailed(m.Name + " is imported twice");
                imports.Add(m.Name, m);
            }
            return imports;
        }

        // One DllImport against its C declaration: the library, the entry point, and the result and
        // every parameter by position, name and width.
        static void ExpectImportMatches(MethodInfo m, CFunction f, string library)
        {
            object[] attributes = m.GetCustomAttributes(typeof(DllImportAttribute), false);
            Check.Equal(1, attributes.Length, f.Name + ": DllImport attributes");
            DllImportAttribute import = (DllImportAttribute)attributes[0];
            Check.Equal(library, import.Value, f.Name + ": library");
            Check.Equal(f.Name, import.EntryPoint ?? m.Name, f.Name + ": entry point");
            Check.True(m.IsPublic, f.Name + " is public");

            ExpectDeclaredAs(f.Result, m.ReturnType.FullName, f.Name + " result");
            ParameterInfo[] ps = m.GetParameters();
            Check.Equal(f.Parameters.Count, ps.Length, f.Name + ": parameter count");
            for (int i = 0; i < ps.Length; ++i)
            {
                string what = f.Name + " parameter " + (i + 1);
                Check.Equal(f.Parameters[i].Value, ps[i].Name, what + ": name");
                ExpectDeclaredAs(f.Parameters[i].Key, Describe(ps[i]), what + " (" + ps[i].Name + ")");
            }
        }

        [Test]
        static void EveryExportHasOneDllImportOfTheHeadersShape()
        {
            Dictionary<string, CFunction> header = HeaderFunctions("include/Tarvik.h");
            // The header declares every export on the list, and nothing else.
            List<string> exports = new List<string>();
            foreach (string line in File.ReadAllLines(SourceFile("src/api/Tarvik.exports")))
                if (line.Trim().Length > 0 && !line.StartsWith("#")) exports.Add(line.Trim());
            List<string> declared = new List<string>(header.Keys);
            exports.Sort(StringComparer.Ordinal);
            declared.Sort(StringComparer.Ordinal);
            Check.Equal(string.Join(" ", exports.ToArray()), string.Join(" ", declared.ToArray()), "the header's functions");
            Check.Equal(48, header.Count, "exports");

            Dictionary<string, MethodInfo> imports = Imports(typeof(Tarvik));
            Check.Equal(header.Count, imports.Count, "DllImports in class Tarvik");
            foreach (CFunction f in header.Values)
            {
                MethodInfo m;
                if (!imports.TryGetValue(f.Name, out m)) throw new CheckFailed(f.Name + " has no DllImport");
                ExpectImportMatches(m, f, "Tarvik.dll");
            }
        }

        [Test]
        static void EverySystemCallIsDeclaredAsThePlatformDeclaresIt()
        {
            Dictionary<string, CFunction> platform = HeaderFunctions("src/platform/tarvik_platform.h");
            Dictionary<string, MethodInfo> imports = Imports(typeof(Coredll));
            Check.True(imports.ContainsKey("CreateEventW"), "CreateEventW is declared");
            foreach (MethodInfo m in imports.Values)
            {
                CFunction f;
                if (!platform.TryGetValue(m.Name, out f)) throw new CheckFailed(m.Name + " is no system call the platform declares");
                ExpectImportMatches(m, f, "coredll.dll");
            }
        }

        [Test]
        static void TheTableOfWidthsIsItselfRight()
        {
            // The widths the table above relies on, as the marshaller sees them.
            Check.Equal(1, Marshal.SizeOf(typeof(byte)), "uint8_t");
            Check.Equal(4, Marshal.SizeOf(typeof(uint)), "uint32_t");
            Check.Equal(4, Marshal.SizeOf(typeof(int)), "int32_t");
            Check.Equal(IntPtr.Size, Marshal.SizeOf(typeof(IntPtr)), "HANDLE");
        }

        [Test]
        static void DcbIsTheDriversTwentyEightByteRecord()
        {
            Check.Equal(28, Marshal.SizeOf(typeof(DCB)), "size");
            string[] fields = { "DCBlength", "BaudRate", "Flags", "wReserved", "XonLim", "XoffLim", "ByteSize", "Parity",
                                "StopBits", "XonChar", "XoffChar", "ErrorChar", "EofChar", "EvtChar", "wReserved1" };
            int[] offsets = { 0, 4, 8, 12, 14, 16, 18, 19, 20, 21, 22, 23, 24, 25, 26 };
            int[] widths = { 4, 4, 4, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 2 };
            for (int i = 0; i < fields.Length; ++i)
            {
                Check.Equal(offsets[i], Marshal.OffsetOf(typeof(DCB), fields[i]).ToInt32(), fields[i] + " offset");
                Check.Equal(widths[i], Marshal.SizeOf(typeof(DCB).GetField(fields[i]).FieldType), fields[i] + " width");
            }

            // Each flag at the bit the C compiler gives it, and nothing else moved.
            string[] flags = { "fBinary", "fParity", "fOutxCtsFlow", "fOutxDsrFlow", "fDtrControl", "fDsrSensitivity",
                               "fTXContinueOnXoff", "fOutX", "fInX", "fErrorChar", "fNull", "fRtsControl", "fAbortOnError" };
            uint[] masks = { 0x1, 0x2, 0x4, 0x8, 0x30, 0x40, 0x80, 0x100, 0x200, 0x400, 0x800, 0x3000, 0x4000 };
            for (int i = 0; i < flags.Length; ++i)
            {
                PropertyInfo property = typeof(DCB).GetProperty(flags[i]);
                object dcb = new DCB();
                bool twoBits = property.PropertyType == typeof(uint);
                property.SetValue(dcb, twoBits ? (object)3u : (object)true, null);
                Check.Equal(masks[i], ((DCB)dcb).Flags, flags[i] + " set alone");
                ((DCB)dcb).GetType().GetField("Flags").SetValue(dcb, 0xFFFFFFFFu);
                property.SetValue(dcb, twoBits ? (object)0u : (object)false, null);
                Check.Equal(~masks[i], ((DCB)dcb).Flags, flags[i] + " cleared alone");
            }
            DCB tooWide = new DCB();
            try
            {
                tooWide.fRtsControl = 4;
                throw new CheckFailed("fRtsControl took 4");
            }
            catch (ArgumentOutOfRangeException) { }
            Check.Equal(0u, tooWide.Flags, "a refused value leaves the word alone");
        }
    }
}
