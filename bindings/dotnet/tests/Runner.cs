// Runner.cs - a small test runner for the binding's tests under Mono: "--list" names the tests,
// given names runs those, no names runs them all in one process. Each test starts from a freshly
// reset board and must leave no driver handle open and no handle misused.
using System;
using System.Collections.Generic;
using System.Reflection;

namespace Velna.Tests
{
    /// <summary>Marks a static method without parameters as a test.</summary>
    [AttributeUsage(AttributeTargets.Method)]
    sealed class TestAttribute : Attribute { }

    sealed class CheckFailed : Exception
    {
        public CheckFailed(string message) : base(message) { }
    }

    static class Check
    {
        public static void Equal<T>(T expected, T actual, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(expected, actual))
                throw new CheckFailed(what + ": expected " + Show(expected) + ", got " + Show(actual));
        }

        public static void Bytes(byte[] expected, byte[] actual, string what)
        {
            Equal(BitConverter.ToString(expected), BitConverter.ToString(actual), what);
        }

        public static void True(bool condition, string what)
        {
            if (!condition) throw new CheckFailed(what);
        }

        /// <summary>The lines appear in the trace, in this order, each one whole.</summary>
        public static void TraceHas(params string[] lines)
        {
            string[] trace = VBoard.TraceLines();
            int at = 0;
            foreach (string line in lines)
            {
                while (at < trace.Length && trace[at] != line) ++at;
                if (at == trace.Length)
                    throw new CheckFailed("trace lacks (in order) \"" + line + "\"; trace:\n  " + string.Join("\n  ", trace));
                ++at;
            }
        }

        /// <summary>Runs call and expects a TarvikException naming export.</summary>
        public static TarvikException Throws(string export, Action call)
        {
            try { call(); }
            catch (TarvikException e)
            {
                Equal(export, e.Export, "the export the exception names");
                return e;
            }
            throw new CheckFailed("expected " + export + " to fail");
        }

        static string Show<T>(T value)
        {
            if (value == null) return "null";
            if (value is uint) return "0x" + ((uint)(object)value).ToString("X8");
            if (value is string) return "\"" + value + "\"";
            return value.ToString();
        }
    }

    static class Runner
    {
        static SortedDictionary<string, MethodInfo> Tests()
        {
            SortedDictionary<string, MethodInfo> tests = new SortedDictionary<string, MethodInfo>(StringComparer.Ordinal);
            foreach (Type type in typeof(Runner).Assembly.GetTypes())
                foreach (MethodInfo m in type.GetMethods(BindingFlags.Static | BindingFlags.Public | BindingFlags.NonPublic))
                    if (m.GetCustomAttributes(typeof(TestAttribute), false).Length > 0)
                        tests.Add(type.Name + "." + m.Name, m);
            return tests;
        }

        static bool Run(string name, MethodInfo test)
        {
            VBoard.vboard_reset();
            try
            {
                test.Invoke(null, null);
                Check.Equal(0, VBoard.OpenHandles(null), "driver handles left open");
                Check.Equal(0UL, VBoard.vboard_misuse_count(), "handles misused: " + VBoard.MisusesText());
                Console.WriteLine("PASS " + name);
                return true;
            }
            catch (TargetInvocationException e)
            {
                Console.WriteLine("FAIL " + name + ": " + e.InnerException);
            }
            catch (CheckFailed e)
            {
                Console.WriteLine("FAIL " + name + ": " + e.Message);
            }
            Console.WriteLine("debug output:\n" + VBoard.DebugText());
            return false;
        }

        // Arguments: "--list"; or test names (none: all), with "--shuffle" to run them in a random
        // order and "--repeat N" to run them N times, as IDEs run a suite in one process.
        static int Main(string[] args)
        {
            SortedDictionary<string, MethodInfo> tests = Tests();
            if (args.Length == 1 && args[0] == "--list")
            {
                foreach (string name in tests.Keys) Console.WriteLine(name);
                return 0;
            }
            List<string> names = new List<string>();
            bool shuffle = false;
            int repeat = 1;
            for (int i = 0; i < args.Length; ++i)
            {
                if (args[i] == "--shuffle") shuffle = true;
                else if (args[i] == "--repeat" && i + 1 < args.Length) repeat = int.Parse(args[++i]);
                else names.Add(args[i]);
            }
            if (names.Count == 0) names.AddRange(tests.Keys);
            int seed = Environment.TickCount;
            Random random = new Random(seed);
            if (shuffle) Console.WriteLine("shuffled with seed " + seed);
            int failed = 0, ran = 0;
            for (int round = 0; round < repeat; ++round)
            {
                List<string> order = new List<string>(names);
                for (int i = order.Count - 1; shuffle && i > 0; --i)
                {
                    int j = random.Next(i + 1);
                    string swap = order[i];
                    order[i] = order[j];
                    order[j] = swap;
                }
                foreach (string name in order)
                {
                    ++ran;
                    MethodInfo test;
                    if (!tests.TryGetValue(name, out test))
                    {
                        Console.WriteLine("FAIL " + name + ": no such test");
                        ++failed;
                    }
                    else if (!Run(name, test)) ++failed;
                }
            }
            Console.WriteLine((ran - failed) + " passed, " + failed + " failed");
            return failed == 0 ? 0 : 1;
        }
    }
}
