// What the tests share: checks, the runner, the simulator process, the loop
// thread and the simulator's sample pattern.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;
using System.Threading.Tasks;

namespace Vexa.Tests
{
    internal sealed class CheckFailed : Exception
    {
        internal CheckFailed(string message) : base(message)
        {
        }
    }

    internal static class Check
    {
        internal static void True(bool condition, string what)
        {
            if (!condition) throw new CheckFailed(what);
        }

        internal static void Equal<T>(T expected, T actual, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(expected, actual))
            {
                throw new CheckFailed(what + ": expected <" + expected + ">, got <" + actual + ">");
            }
        }

        internal static T Throws<T>(Action action, string what) where T : Exception
        {
            try
            {
                action();
            }
            catch (T e)
            {
                return e;
            }
            catch (Exception e)
            {
                throw new CheckFailed(what + ": expected " + typeof(T).Name + ", got " + e);
            }
            throw new CheckFailed(what + ": expected " + typeof(T).Name + ", nothing was thrown");
        }

        // Waits, `wait(msLeft)` at a time, until `done` holds; fails with
        // `what()` once DeadlineMs have passed or `wait` gives up.
        internal const int DeadlineMs = 10000;

        internal static void Await(Func<bool> done, Func<int, bool> wait, Func<string> what)
        {
            int deadline = Environment.TickCount + DeadlineMs;
            while (!done())
            {
                int left = deadline - Environment.TickCount;
                if (left <= 0 || !wait(left)) throw new CheckFailed(what());
            }
        }

        // For what nothing signals: polls `done` every millisecond.
        internal static void Poll(Func<bool> done, Func<string> what)
        {
            Await(done, ms => { Thread.Sleep(1); return true; }, what);
        }

        internal static void NoEvents<T>(List<T> events, string what)
        {
            Equal(0, events.Count, what + ": " + string.Join(", ", events));
        }

        // The library's report for `action`: its code and text.
        internal static VexaException Reports(int code, Action action, string what)
        {
            VexaException e = Throws<VexaException>(action, what);
            Equal(code, e.Code, what + " code (" + e.Message.TrimEnd() + ")");
            return e;
        }
    }

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
                if (failure == null) passed++;
                else failed++;
                Console.WriteLine((failure == null ? "PASS " : "FAIL ") + test.Key + " (" + watch.ElapsedMilliseconds +
                                  " ms)" + (failure == null ? "" : ": " + failure));
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
            return Array.Exists(filter.Split('|'), part => name.IndexOf(part, StringComparison.Ordinal) >= 0);
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

    // One vexa-sim child process serving a simulated device on a
    // pseudo-terminal; closing its standard input ends it.
    internal sealed class Simulator : IDisposable
    {
        private const int StartTimeoutMs = 5000;
        private const int ExitTimeoutMs = 5000;

        internal static string Executable;

        private readonly Process process;

        // The path to connect with, "COM" + the terminal's name.
        internal string Path { get; private set; }

        internal Simulator(params string[] args)
        {
            ProcessStartInfo info = new ProcessStartInfo(Executable, string.Join(" ", args))
            {
                UseShellExecute = false,
                RedirectStandardInput = true,
                RedirectStandardOutput = true,
                RedirectStandardError = true,
            };
            process = Process.Start(info);
            process.ErrorDataReceived += (sender, e) => { };
            process.BeginErrorReadLine();
            Task<string> line = Task.Run(() => process.StandardOutput.ReadLine());
            if (!line.Wait(StartTimeoutMs) || line.Result == null)
            {
                Dispose();
                throw new CheckFailed("vexa-sim " + string.Join(" ", args) + " printed no port path");
            }
            Path = line.Result.Trim();
            Check.True(Path.StartsWith("COM/", StringComparison.Ordinal), "vexa-sim path: " + Path);
        }

        // Ends the simulator as a user would: end of its input.
        internal void Close()
        {
            try
            {
                process.StandardInput.Close();
            }
            catch (Exception)
            {
                // Already gone.
            }
        }

        public void Dispose()
        {
            Close();
            if (!process.WaitForExit(ExitTimeoutMs))
            {
                process.Kill();
                process.WaitForExit();
            }
            process.Dispose();
        }

    }

    // Runs the loop on a worker thread, as a Unity script would, and collects
    // what it queues on the test's thread.
    internal sealed class Acquisition
    {
        private readonly Thread loop = VexaDevice.StartLoopThread();
        internal readonly List<VexaFrame> Frames = new List<VexaFrame>();
        internal readonly List<VexaEvent> Events = new List<VexaEvent>();

        // Drains until at least `count` frames have arrived in all.
        internal void WaitForFrames(int count)
        {
            Check.Await(() => Drain() >= count, VexaDevice.WaitForData,
                        () => "only " + Frames.Count + " of " + count + " frames arrived; events: " +
                              string.Join(", ", Events));
        }

        // Drains until an event arrives; returns it.
        internal VexaEvent WaitForEvent()
        {
            int seen = Events.Count;
            Check.Await(() => Drain() >= 0 && Events.Count > seen, VexaDevice.WaitForData, () => "no event arrived");
            return Events[seen];
        }

        // Interrupts from this thread and waits for the loop thread to end.
        internal void Interrupt()
        {
            Check.True(VexaDevice.Interrupt(), "Interrupt ended the loop");
            Join();
        }

        internal void Join()
        {
            Check.True(loop.Join(Check.DeadlineMs), "the loop thread ended");
            Drain();
        }

        private int Drain()
        {
            VexaDevice.DrainFrames(Frames);
            VexaDevice.DrainEvents(Events);
            return Frames.Count;
        }
    }

    // The values the simulator streams, recomputed independently: channel
    // `channel` (bit number in the port's mask) of the source at
    // `sourceIndex` (0-based, start order) at tick `tick`.
    internal static class SamplePattern
    {
        private const ulong TickStep = 0x9E3779B97F4A7C15UL;
        private const ulong SourceStep = 0xC2B2AE3D27D4EB4FUL;
        private const ulong ChannelStep = 0x165667B19E3779F9UL;

        internal static int Value(long tick, int sourceIndex, int channel, int nBits)
        {
            ulong mixed = unchecked((ulong)tick * TickStep + (ulong)sourceIndex * SourceStep +
                                    (ulong)channel * ChannelStep);
            uint value = (uint)(mixed & ((1UL << nBits) - 1));
            if (nBits == 24 && value >= 0x800000u) return (int)value - 0x1000000;
            return (int)value;
        }

        // What the host must receive at `tick`: every source in order, each
        // holding the values of its last sampled tick (a multiple of its
        // divisor), channels ascending.
        internal static int[] Expected(long tick, VexaSource[] sources)
        {
            List<int> samples = new List<int>();
            for (int i = 0; i < sources.Length; i++)
            {
                VexaSource s = sources[i];
                long sampledAt = tick - tick % s.FreqDivisor;
                for (int ch = 0; ch < 16; ch++)
                {
                    if ((s.ChMask & (1 << ch)) != 0) samples.Add(Value(sampledAt, i, ch, s.NBits));
                }
            }
            return samples.ToArray();
        }

        // Checks that the frames are ticks first, first + 1, ... with exactly
        // the simulator's values.
        internal static void CheckFrames(List<VexaFrame> frames, VexaSource[] sources, int firstTick)
        {
            for (int n = 0; n < frames.Count; n++)
            {
                VexaFrame frame = frames[n];
                Check.Equal(firstTick + n, frame.Tick, "tick of frame " + n);
                int[] expected = Expected(frame.Tick, sources);
                Check.Equal(expected.Length, frame.Samples.Length, "channels at tick " + frame.Tick);
                for (int k = 0; k < expected.Length; k++)
                {
                    Check.Equal(expected[k], frame.Samples[k], "sample " + k + " at tick " + frame.Tick);
                }
            }
        }
    }
}
