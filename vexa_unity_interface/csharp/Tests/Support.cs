// What the tests share: checks, the runner, the simulator process, a port
// that never answers, the engine's calls into a component, the loop thread
// and the simulator's sample pattern.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Threading;
using System.Threading.Tasks;

namespace Vexa.Tests
{
    internal sealed class CheckFailed : Exception
    {
        internal CheckFailed(string message) : base(message) { }
    }

    internal static class Check
    {
        internal const int DeadlineMs = 10000;

        internal static void True(bool condition, string what)
        {
            if (!condition) throw new CheckFailed(what);
        }

        internal static void Equal<T>(T expected, T actual, string what) =>
            True(EqualityComparer<T>.Default.Equals(expected, actual),
                 what + ": expected <" + expected + ">, got <" + actual + ">");

        internal static T Throws<T>(Action action, string what) where T : Exception
        {
            Exception thrown = null;
            try { action(); }
            catch (Exception e) { thrown = e; }
            True(thrown is T,
                 what + ": expected " + typeof(T).Name + ", got " + (thrown == null ? "nothing" : "" + thrown));
            return (T)thrown;
        }

        // The library's report for `action`: its code and text.
        internal static VexaException Reports(int code, Action action, string what)
        {
            VexaException e = Throws<VexaException>(action, what);
            Equal(code, e.Code, what + " code (" + e.Message.TrimEnd() + ")");
            return e;
        }

        // Waits, `wait(msLeft)` at a time, until `done` holds; fails with
        // `what()` once DeadlineMs have passed or `wait` gives up.
        internal static void Await(Func<bool> done, Func<int, bool> wait, Func<string> what)
        {
            int deadline = Environment.TickCount + DeadlineMs;
            for (int left; !done();)
                if ((left = deadline - Environment.TickCount) <= 0 || !wait(left)) throw new CheckFailed(what());
        }

        // For what nothing signals: polls `done` every millisecond.
        internal static void Poll(Func<bool> done, Func<string> what) =>
            Await(done, ms => { Thread.Sleep(1); return true; }, what);
    }

    // Runs each test on a thread of its own with a deadline, then the
    // cleanup; prints one line per test and the closing "N passed, N failed".
    internal sealed class TestRunner
    {
        private readonly List<KeyValuePair<string, Action>> tests = new List<KeyValuePair<string, Action>>();
        private readonly Action cleanup;

        internal TestRunner(Action cleanup) => this.cleanup = cleanup;

        internal void Add(string name, Action test) => tests.Add(new KeyValuePair<string, Action>(name, test));

        // filter: alternatives separated by '|'. Returns the number of failed
        // tests, or 1 when none ran.
        internal int Run(string filter)
        {
            int passed = 0, failed = 0;
            foreach (KeyValuePair<string, Action> test in tests)
            {
                if (filter != null && !Array.Exists(filter.Split('|'), part => test.Key.Contains(part))) continue;
                Stopwatch watch = Stopwatch.StartNew();
                string failure = null;
                Thread thread = new Thread(() =>
                {
                    foreach (Action step in new[] { test.Value, cleanup })
                    {
                        try { step(); }
                        catch (Exception e)
                        {
                            failure = failure ?? (step == cleanup ? "cleanup: " : "") +
                                                     (e is CheckFailed ? e.Message : e.ToString());
                        }
                    }
                }) { IsBackground = true };
                thread.Start();
                bool hung = !thread.Join(20000);
                if (hung) failure = "did not finish within the deadline";
                if (failure == null) passed++;
                else failed++;
                Console.WriteLine((failure == null ? "PASS " : "FAIL ") + test.Key + " (" + watch.ElapsedMilliseconds +
                                  " ms)" + (failure == null ? "" : ": " + failure));
                // A thread stuck inside the library leaves the process in an
                // unknown state: stop here.
                if (hung) break;
            }
            if (passed + failed == 0) Console.WriteLine("no test matches the filter '" + filter + "'");
            Console.WriteLine(passed + " passed, " + failed + " failed");
            return passed + failed == 0 ? 1 : failed;
        }
    }

    // One vexa-sim child process serving a simulated device on a
    // pseudo-terminal; closing its standard input ends it.
    internal sealed class Simulator : IDisposable
    {
        internal static string Executable;

        private readonly Process process;

        // The path to connect with, "COM" + the terminal's name.
        internal readonly string Path;

        internal Simulator(params string[] args)
        {
            process = Process.Start(new ProcessStartInfo(Executable, string.Join(" ", args))
            {
                UseShellExecute = false, RedirectStandardInput = true, RedirectStandardOutput = true,
            });
            Task<string> line = Task.Run(() => process.StandardOutput.ReadLine());
            Path = line.Wait(5000) ? line.Result : null;
            if (Path != null && Path.StartsWith("COM/", StringComparison.Ordinal)) return;
            Dispose();
            throw new CheckFailed("vexa-sim " + string.Join(" ", args) + " printed no port path: " + Path);
        }

        // Ends the simulator as a user would: end of its input.
        public void Dispose()
        {
            process.StandardInput.Close();
            if (!process.WaitForExit(5000)) process.Kill();
            process.WaitForExit();
            process.Dispose();
        }
    }

    // A pseudo-terminal nobody answers on: a connect to it waits in the
    // handshake until the library gives up (or is cancelled).
    internal sealed class SilentPort : IDisposable
    {
        [DllImport("libc")] private static extern int posix_openpt(int flags);
        [DllImport("libc")] private static extern int grantpt(int fd);
        [DllImport("libc")] private static extern int unlockpt(int fd);
        [DllImport("libc")] private static extern IntPtr ptsname(int fd);
        [DllImport("libc")] private static extern int poll(short[] fds, int count, int timeoutMs);
        [DllImport("libc")] private static extern int close(int fd);

        private readonly int terminal = posix_openpt(2 | 0x100);  // O_RDWR | O_NOCTTY

        // The path to connect with, "COM" + the terminal's name.
        internal readonly string Path;

        internal SilentPort()
        {
            Check.True(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0, "a pseudo-terminal");
            Path = "COM" + Marshal.PtrToStringAnsi(ptsname(terminal));
        }

        // Waits until the library has written its first handshake byte: the
        // connect now waits for a reply that never comes.
        internal void WaitForHandshake()
        {
            short[] pollfd = { (short)terminal, (short)(terminal >> 16), 1, 0 };  // POLLIN
            Check.True(poll(pollfd, 1, Check.DeadlineMs) == 1, "the library wrote to " + Path);
        }

        public void Dispose() => close(terminal);
    }

    // What the engine does to a component: calls its messages (OnEnable,
    // Update, ...) and reads and sets its serialised fields, as the
    // inspector does.
    internal static class Engine
    {
        private const BindingFlags Private = BindingFlags.Instance | BindingFlags.NonPublic;

        internal static void Send(object component, string message) =>
            component.GetType().GetMethod(message, Private).Invoke(component, null);

        internal static void Set(object component, string field, object value) =>
            component.GetType().GetField(field, Private).SetValue(component, value);

        internal static T Get<T>(object component, string field) =>
            (T)component.GetType().GetField(field, Private).GetValue(component);
    }

    // Runs the loop on a worker thread, as a Unity script would, and collects
    // what it queues on the test's thread.
    internal sealed class Acquisition
    {
        private readonly Thread loop = VexaDevice.StartLoopThread();
        internal readonly List<VexaFrame> Frames = new List<VexaFrame>();
        internal readonly List<VexaEvent> Events = new List<VexaEvent>();

        // Drains until at least `count` frames have arrived in all.
        internal void WaitForFrames(int count) =>
            Check.Await(() => Drain() >= count, VexaDevice.WaitForData,
                        () => "only " + Frames.Count + " of " + count + " frames arrived; events: " +
                              string.Join(", ", Events));

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

    // The values the simulator streams, recomputed independently.
    internal static class SamplePattern
    {
        // Channel `channel` (bit number in the port's mask) of the source at
        // `sourceIndex` (0-based, start order) at tick `tick`.
        private static int Value(long tick, int sourceIndex, int channel, int nBits)
        {
            ulong mixed = unchecked((ulong)tick * 0x9E3779B97F4A7C15UL + (ulong)sourceIndex * 0xC2B2AE3D27D4EB4FUL +
                                    (ulong)channel * 0x165667B19E3779F9UL);
            uint value = (uint)(mixed & ((1UL << nBits) - 1));
            return nBits == 24 && value >= 0x800000u ? (int)value - 0x1000000 : (int)value;
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
                for (int ch = 0; ch < 16; ch++)
                    if ((s.ChMask & (1 << ch)) != 0) samples.Add(Value(tick - tick % s.FreqDivisor, i, ch, s.NBits));
            }
            return samples.ToArray();
        }

        // Checks that the frames are ticks first, first + 1, ... with exactly
        // the simulator's values.
        internal static void CheckFrames(List<VexaFrame> frames, VexaSource[] sources, int firstTick) =>
            CheckInstants(frames.ConvertAll(f => (long)f.Tick).ToArray(),
                          frames.ConvertAll(f => f.Samples).SelectMany(s => s).ToArray(), frames.Count, sources,
                          firstTick);

        // The same for `count` instants read from a sample ring into `ticks`
        // and `samples`, the first of them tick `firstTick`.
        internal static void CheckInstants(long[] ticks, int[] samples, int count, VexaSource[] sources, int firstTick)
        {
            int width = Expected(0, sources).Length;
            for (int i = 0; i < count; i++)
            {
                Check.Equal(firstTick + i, ticks[i], "tick of instant " + i);
                Check.Equal(string.Join(" ", Expected(ticks[i], sources)),
                            string.Join(" ", new ArraySegment<int>(samples, i * width, width)),
                            "samples at tick " + ticks[i]);
            }
        }
    }
}
