using System;
using System.Collections.Generic;

namespace Vexa.Tests
{
    // VexaDeviceWorker, the thread behind VexaDeviceBehaviour: its back-off,
    // its checks, the scan fallback and the reconnection after a lost link;
    // and the component itself, driven as the engine drives it.
    internal static class WorkerTests
    {
        private const int EventTimeoutMs = 10000;

        internal static void Register(TestRunner runner)
        {
            runner.Add("the reconnect back-off doubles up to its maximum and starts again after a reset", Backoff);
            runner.Add("a worker refuses unusable settings and a second start; two workers are two devices; a " +
                       "session ended by its holder ends its worker", RefusesBadStarts);
            runner.Add("a scan that finds nothing falls back to SIM only when asked", ScanFallback);
            runner.Add("with AutoReconnect a lost link is followed by a new connection to the new port", Reconnect);
            runner.Add("the component: disable never waits on a connect, re-enable follows; two components read " +
                       "two devices' blocks", Component);
        }

        private static void Backoff()
        {
            // A maximum the doublings miss, one equal to the first delay, and
            // one that doubling would overflow.
            var cases = new[]
            {
                new { First = 1000, Max = 30000, Delays = "1000 2000 4000 8000 16000 30000 30000" },
                new { First = 250, Max = 1001, Delays = "250 500 1000 1001" },
                new { First = 7, Max = 7, Delays = "7 7" },
                new { First = 1 << 30, Max = int.MaxValue, Delays = "1073741824 2147483647 2147483647" },
            };
            foreach (var c in cases)
            {
                VexaReconnectBackoff backoff = new VexaReconnectBackoff(c.First, c.Max);
                for (int round = 0; round < 2; round++, backoff.Reset())
                {
                    List<int> delays = new List<int>();
                    while (delays.Count < c.Delays.Split(' ').Length) delays.Add(backoff.NextDelayMs());
                    Check.Equal(c.Delays, string.Join(" ", delays), "delays of " + c.First + "/" + c.Max);
                }
            }
            // New delays apply from the next wait, at the attempt reached.
            VexaReconnectBackoff changed = new VexaReconnectBackoff(100, 1000);
            string waits = changed.NextDelayMs() + " " + changed.NextDelayMs();
            changed.SetDelays(30, 100);
            waits += " " + changed.NextDelayMs() + " " + changed.NextDelayMs();
            Check.Equal("100 200 100 100", waits, "waits across a change");
            Check.Throws<ArgumentOutOfRangeException>(() => new VexaReconnectBackoff(0, 10), "no first delay");
            Check.Throws<ArgumentOutOfRangeException>(() => new VexaReconnectBackoff(500, 400), "max below first");
        }

        private static void RefusesBadStarts()
        {
#pragma warning disable 618  // the per-sample path's setting, refused now
            var spoilers = new Action<VexaDeviceWorker>[]
            {
                w => w.Port = " ", w => { w.Port = "scan"; w.ScanDomain = "WIFI"; }, w => w.Channels = "0x0",
                w => w.Channels = null, w => w.BaseFrequency = 0, w => w.Bits = 0, w => w.UseSampleRing = false,
                w => w.Channels = new string('0', 32) + "1",
            };
#pragma warning restore 618
            for (int i = 0; i < spoilers.Length; i++)
            {
                VexaDeviceWorker worker = Worker("SIM", false);
                spoilers[i](worker);
                Check.Throws<ArgumentException>(worker.Start, "settings " + i);
                Check.True(!worker.IsRunning, "not started with settings " + i);
            }

            VexaReconnectBackoff used = new VexaReconnectBackoff(20, 80);
            used.NextDelayMs();  // left over from an earlier run
            // The second device's input goes 0, 1, 1, 0 over successive
            // frames, each reported at the tick it names.
            VexaDeviceWorker first = Worker("SIM", false, used),
                             second = Worker("SIM:cadrium --digital-inputs 0,1,1,0", true);
            second.Channels = "101";
            second.Bits = 12;
            first.Start();
            Check.Equal(20, used.NextDelayMs(), "Start resets the back-off");
            Check.Throws<InvalidOperationException>(first.Start, "the same worker again");
            second.Start();
            WaitFor(first, VexaSessionEventKind.Connected);
            WaitFor(second, VexaSessionEventKind.Connected);
            Check.True(first.Session.Handle != second.Session.Handle, "a session each");
            Check.True(first.Stop(EventTimeoutMs), "first worker ended");
            Check.Equal(VexaDeviceWorker.ReasonEnded, WaitFor(first, VexaSessionEventKind.Disconnected).Reason,
                        "reason of the stop");
            Check.True(first.Session == null, "no session once ended");
            for (int i = 0; i < 4; i++)
            {
                VexaSessionEvent input = WaitFor(second, VexaSessionEventKind.DigitalInput);
                long phase = input.Tick % 4;
                Check.Equal("2 " + input.Tick + " 0 " + (phase == 1 || phase == 2),
                            input.ClockSource + " " + input.ClockValue + " " + input.Input + " " + input.State,
                            "digital input at tick " + input.Tick);
                Check.True(input.Time > 0 && input.Time <= VexaClock.Now, "its time " + input.Time);
            }
            // Halted by whoever holds the session: the worker ends, even
            // with AutoReconnect.
            second.Session.Halt();
            Check.Equal(VexaDeviceWorker.ReasonEnded, WaitFor(second, VexaSessionEventKind.Disconnected).Reason,
                        "reason of the holder's halt");
            Check.True(second.WaitUntilEnded(EventTimeoutMs), "second worker ended by itself");
        }

        private static void ScanFallback()
        {
            // No USB adapter here: the scan fails or finds nothing.
            foreach (bool fallback in new[] { true, false })
            {
                VexaDeviceWorker worker = Worker("SCAN", false);
                worker.ScanDomain = "USB";
                worker.FallbackToSimulator = fallback;
                worker.Start();
                if (fallback)
                {
                    Check.Equal("Connected(SIM, tessarimodular, battery 96)",
                                WaitFor(worker, VexaSessionEventKind.Connected).ToString(), "fallback device");
                    worker.Stop(-1);
                    continue;
                }
                WaitFor(worker, VexaSessionEventKind.Failure);
                Check.True(worker.WaitUntilEnded(EventTimeoutMs), "worker ended by itself");
                Check.Equal(VexaWorkerState.Idle, worker.State, "state at the end");
                worker.DrainEvents(Backlog(worker));
                Check.True(Backlog(worker).TrueForAll(e => e.Kind == VexaSessionEventKind.Failure),
                           "only failures: " + string.Join(", ", Backlog(worker)));
                Check.True(!VexaDevice.IsConnected, "nothing connected");
            }
        }

        // Without AutoReconnect a failed attempt ends the worker (ScanFallback).
        private static void Reconnect()
        {
            VexaSource[] sources = { ExportTests.Source(2, 1, 16, 1), ExportTests.Source(3, 1, 16, 1) };
            VexaReconnectBackoff backoff = new VexaReconnectBackoff(20, 80);
            VexaDeviceWorker worker = Worker(null, true, backoff);
            using (Simulator first = new Simulator())
            {
                worker.Port = first.Path;
                worker.Start();
                Check.Equal(first.Path, WaitFor(worker, VexaSessionEventKind.Connected).Path, "first path");
                CheckFreshInstants(worker, sources);
            }
            // The device went away while the loop ran.
            Check.Equal(21, WaitFor(worker, VexaSessionEventKind.Failure).Code, "the loop's failure");
            VexaSessionEvent lost = WaitFor(worker, VexaSessionEventKind.Disconnected);
            Check.Equal(VexaDeviceWorker.ReasonFailure, lost.Reason, "reason of the lost link");
            VexaDevice.ClearQueues();
            // Attempts on the vanished port fail until a device is back.
            Check.Equal(VexaNative.ErrLink, WaitFor(worker, VexaSessionEventKind.Failure).Code, "failed attempt");
            using (Simulator second = new Simulator("--family", "current", "--description", "FernlitVexa"))
            {
                worker.Port = second.Path;
                VexaSessionEvent back = WaitFor(worker, VexaSessionEventKind.Connected);
                Check.Equal(second.Path + " FernlitVexa", back.Path + " " + back.DeviceType, "reconnected");
                Check.Equal(VexaWorkerState.Acquiring, worker.State, "acquiring again");
                CheckFreshInstants(worker, sources);
                Check.True(worker.Stop(EventTimeoutMs), "worker ended");
            }
            VexaSessionEvent end = WaitFor(worker, VexaSessionEventKind.Disconnected);
            Check.Equal(VexaDeviceWorker.ReasonEnded, end.Reason, "reason of the stop");
            Check.Equal(20, backoff.NextDelayMs(), "back-off reset by the session that worked");
            Check.True(worker.Session == null, "session closed");
        }

        private static void Component()
        {
            VexaDeviceBehaviour device = new VexaDeviceBehaviour(), other = new VexaDeviceBehaviour();
            List<string> failures = new List<string>();
            device.onFailure.AddListener((code, message, detail) => failures.Add(code + " " + message));
            long[] firstTicks = null;
            int[] firstSamples = null;
            device.BlockRead += (ticks, samples, count, channels) =>
            {
                if (firstTicks != null) return;
                firstTicks = new long[count];
                Array.Copy(ticks, firstTicks, count);
                firstSamples = new int[count * channels];
                Array.Copy(samples, firstSamples, count * channels);
            };
            int[] otherTicks = new int[16], otherSamples = new int[16];
            int otherCount = 0;
            other.SamplesRead += (ticks, samples, count) =>
            {
                if (otherCount > 0) return;
                otherCount = Math.Min(count, otherTicks.Length);
                Array.Copy(ticks, otherTicks, otherCount);
                Array.Copy(samples, otherSamples, otherCount);
            };
            Engine.Set(device, "channels", "0101");
            Engine.Set(other, "channels", "001");
            VexaDeviceWorker worker = null;
            try
            {
                using (SilentPort silent = new SilentPort())
                {
                    device.Port = silent.Path;
                    Engine.Send(device, "OnEnable");
                    worker = Engine.Get<VexaDeviceWorker>(device, "worker");
                    silent.WaitForHandshake();
                    Engine.Send(device, "OnDisable");
                    Check.True(worker.IsRunning, "disable returned while the connect is still held");
                    // Enabled again at once: the new session follows the old.
                    device.Port = "SIM";
                    Engine.Send(device, "OnEnable");
                    other.Port = "SIM";
                    Engine.Send(other, "OnEnable");
                    Check.Poll(() =>
                    {
                        Engine.Send(device, "Update");
                        Engine.Send(other, "Update");
                        return firstTicks != null && otherCount > 0;
                    }, () => "no block read; failures: " + string.Join(", ", failures));
                }
                Check.Equal("", string.Join(", ", failures), "failures (the given-up connect reports none)");
                Check.True(device.Session != null && other.Session != null &&
                           device.Session.Handle != other.Session.Handle, "a session each");
                Check.Equal(2, device.Channels, "channels of the blocks");
                VexaSource[] sources = { ExportTests.Source(2, 1, 16, 1), ExportTests.Source(4, 1, 16, 1) };
                SamplePattern.CheckInstants(Array.ConvertAll(firstTicks, t => (long)t), firstSamples, firstTicks.Length, sources, 0);
                SamplePattern.CheckInstants(Array.ConvertAll(otherTicks, t => (long)t), otherSamples, otherCount,
                                            new[] { ExportTests.Source(3, 1, 16, 1) }, 0);

                // Reconnection waits follow the settings at each attempt.
                device.FirstRetryDelaySeconds = 0.25f;
                device.MaxRetryDelaySeconds = 0.3f;
                Check.Equal("250 300", worker.Backoff.NextDelayMs() + " " + worker.Backoff.NextDelayMs(), "waits");

                // Quitting ends the sessions and detaches the handlers on the
                // workers' threads.
                Engine.Send(other, "OnApplicationQuit");
                Engine.Send(device, "OnApplicationQuit");
                Check.True(worker.WaitUntilEnded(Check.DeadlineMs), "ended at quit");
                Check.True(Engine.Get<VexaDeviceWorker>(other, "worker").WaitUntilEnded(Check.DeadlineMs),
                           "the other ended at quit");
                Check.True(device.Session == null && other.Session == null, "sessions closed");
                VexaNative.OnDisconnectEventDetected(3);
                List<VexaEvent> events = new List<VexaEvent>();
                Check.Equal(0, VexaDevice.DrainEvents(events), "handlers detached");
            }
            finally
            {
                if (worker != null) worker.Stop(-1);
                Engine.Send(other, "OnDisable");
            }
        }

        private static readonly List<VexaDeviceWorker> started = new List<VexaDeviceWorker>();

        // The runner's clean-up: no worker of a test outlives it.
        internal static void StopWorkers()
        {
            foreach (VexaDeviceWorker worker in started) worker.Stop(-1);
            started.Clear();
            backlogs.Clear();
        }

        private static VexaDeviceWorker Worker(string port, bool autoReconnect, VexaReconnectBackoff backoff = null)
        {
            VexaDeviceWorker worker = new VexaDeviceWorker(backoff ?? new VexaReconnectBackoff(20, 80))
            {
                Port = port, Channels = "011", BaseFrequency = 1000, Bits = 16, AutoReconnect = autoReconnect,
            };
            started.Add(worker);
            return worker;
        }

        // Per worker, events drained but not yet waited for, oldest first.
        private static readonly Dictionary<VexaDeviceWorker, List<VexaSessionEvent>> backlogs =
            new Dictionary<VexaDeviceWorker, List<VexaSessionEvent>>();

        private static List<VexaSessionEvent> Backlog(VexaDeviceWorker worker)
        {
            List<VexaSessionEvent> backlog;
            if (!backlogs.TryGetValue(worker, out backlog)) backlogs[worker] = backlog = new List<VexaSessionEvent>();
            return backlog;
        }

        // Drains events until one of `kind` arrives; returns it and forgets
        // the events before it.
        private static VexaSessionEvent WaitFor(VexaDeviceWorker worker, VexaSessionEventKind kind)
        {
            List<VexaSessionEvent> backlog = Backlog(worker);
            int found = -1;
            Check.Await(() =>
            {
                int from = backlog.Count;
                Check.Equal(worker.DrainEvents(backlog), backlog.Count - from, "events drained");
                found = backlog.FindIndex(e => e.Kind == kind);
                return found >= 0;
            }, worker.WaitForEvents, () => "no " + kind + " event; saw: " + string.Join(", ", backlog));
            VexaSessionEvent next = backlog[found];
            backlog.RemoveRange(0, found + 1);
            return next;
        }

        // The session's first instants, from tick 0, carry the simulator's
        // values.
        private static void CheckFreshInstants(VexaDeviceWorker worker, VexaSource[] sources)
        {
            long[] ticks = new long[50];
            int[] samples = new int[50 * sources.Length];
            int got = 0, channels, acquisition;
            Check.Poll(() => (got = worker.ReadSamples(ticks, null, samples, out channels, out acquisition)) > 0,
                       () => "no instant read");
            SamplePattern.CheckInstants(ticks, samples, got, sources, 0);
        }
    }
}
