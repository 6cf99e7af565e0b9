using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Threading;

namespace Vexa.Tests
{
    // Runs each test once, on its own thread with a deadline, prints one line
    // per test and the closing "N passed, N failed" line.
    internal sealed class TestRunner
    {
        private const int TestTimeoutMs = 20000;

        private readonly List<KeyValuePair<string, Action>> tests = new List<KeyValuePair<string, Action>>();
        private readonly Action cleanup;

        internal TestRunner(Action cleanup)
        {
            this.cleanup = cleanup;
        }

        internal void Add(string name, Action test)
        {
            tests.Add(new KeyValuePair<string, Action>(name, test));
        }

        // Returns the number of failed tests, or 1 when none ran.
        internal int Run(string filter)
        {
            int passed = 0, failed = 0;
            foreach (KeyValuePair<string, Action> test in tests)
            {
                if (filter != null && !Matches(test.Key, filter)) continue;
                Stopwatch watch = Stopwatch.StartNew();
                string failure = RunOne(test.Value);
                long ms = watch.ElapsedMilliseconds;
                if (failure == null)
                {
                    passed++;
                    Console.WriteLine("PASS " + test.Key + " (" + ms + " ms)");
                }
                else
                {
                    failed++;
                    Console.WriteLine("FAIL " + test.Key + " (" + ms + " ms): " + failure);
                }
                if (failure == Hung)
                {
                    // A test thread stuck inside the library leaves the
                    // process in an unknown state: stop here.
                    Console.WriteLine(passed + " passed, " + failed + " failed");
                    Console.Out.Flush();
                    Environment.Exit(1);
                }
            }
            if (passed + failed == 0) Console.WriteLine("no test matches the filter '" + filter + "'");
            Console.WriteLine(passed + " passed, " + failed + " failed");
            return passed + failed == 0 ? 1 : failed;
        }

        // The filter holds alternatives separated by '|'.
        private static bool Matches(string name, string filter)
        {
            foreach (string part in filter.Split('|'))
            {
                if (name.IndexOf(part, StringComparison.Ordinal) >= 0) return true;
            }
            return false;
        }

        private const string Hung = "did not finish within the deadline";

        private string RunOne(Action test)
        {
            string failure = null;
            Thread thread = new Thread(() =>
            {
                try
                {
                    test();
                }
                catch (Exception e)
                {
                    failure = e is CheckFailed ? e.Message : e.ToString();
                }
                try
                {
                    cleanup();
                }
                catch (Exception e)
                {
                    if (failure == null) failure = "cleanup: " + e;
                }
            });
            thread.IsBackground = true;
            thread.Start();
            if (!thread.Join(TestTimeoutMs)) return Hung;
            return failure;
        }
    }
}
