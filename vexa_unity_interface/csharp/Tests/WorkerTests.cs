using System;
using System.Collections.Generic;
using System.Linq;

namespace Vexa.Tests
{
    // VexaDeviceWorker, the thread behind VexaDeviceBehaviour: its back-off,
    // its checks, the scan fallback and the reconnection after a lost link;
    // and the component itself, driven as the engine drives it.
    internal static class WorkerTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("the reconnect back-off doubles up to its maximum and starts again after a reset", Backoff);
            runner.Add("a worker refuses unusable settings and a second worker", RefusesBadStarts);
            runner.Add("a scan that finds nothing falls back to SIM only when asked", ScanFallback);
            runner.Add("with AutoReconnect a lost link is followed by a new connection to the new port", Reconnect);
            runner.Add("the component: disable never waits on a connect, re-enable follows, blocks and overflow " +
                       "reach its users", Component);
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
                    Check.Equal(c.Delays, string.Join(" ", c.Delays.Split(' ').Select(d => backoff.NextDelayMs())),
                                "delays of " + c.First + "/" + c.Max);
                }
            }
            // New delays apply from the next wait, at the attempt reached.
            VexaReconnectBackoff changed = new VexaReconnectBackoff(100, 1000);
            string waits = changed.NextDelayMs() + " " + changed.NextDelayMs();
            changed.SetDelays(30, 100);
            Check.Equal("100 200 100 100", waits + " " + changed.NextDelayMs() + " " + changed.NextDelayMs(),
                        "waits across a change");
            Check.Throws<ArgumentOutOfRangeException>(() => new VexaReconnectBackoff(0, 10), "no first delay");
            Check.Throws<ArgumentOutOfRangeException>(() => new VexaReconnectBackoff(500, 400), "max below first");
        }

        private static void RefusesBadStarts()
        {
            var spoilers = new Action<VexaDeviceWorker>[]
            {
                w => w.Port = " ", w => { w.Port = "scan"; w.ScanDomain = "WIFI"; }, w => w.Channels = "0x0",
                w => w.Channels = null, w => w.BaseFrequency = 0, w => w.Bits = 0,
            };
            for (int i = 0; i < spoilers.Length; i++)
            {
                VexaDeviceWorker worker = Worker("SIM", false);
                spoilers[i](worker);
                Check.Throws<ArgumentException>(worker.Start, "settings " + i);
                Check.True(!worker.IsRunning, "not started with settings " + i);
            }

            VexaReconnectBackoff used = new VexaReconnectBackoff(20, 80);
            used.NextDelayMs();  // left over from an earlier run
            VexaDeviceWorker first = Worker("SIM", false, used);
            first.Start();
            Check.Equal(20, used.NextDelayMs(), "Start resets the back-off");
            Check.Throws<InvalidOperationException>(Worker("SIM", false).Start, "a second worker");
            Check.Throws<InvalidOperationException>(first.Start, "the same worker again");
            Check.True(first.Stop(Check.DeadlineMs), "first worker ended");
            // Once ended, it may run again. What the loop's handlers
            // report is forwarded, and the first cause that ends the
            // session is its reason.
            first.Start();
            WaitFor(first, VexaSessionEventKind.Connected);
            VexaNative.OnDigInEventDetected(1, 2, 3, true);
            VexaNative.OnDisconnectEventDetected(5);
            VexaNative.OnExceptionRaised(33, "lost");
            Check.Equal("DigitalInput(1, 2, 3, True)", WaitFor(first, VexaSessionEventKind.DigitalInput).ToString(),
                        "forwarded input");
            Check.Equal("Failure(33, lost)", WaitFor(first, VexaSessionEventKind.Failure).ToString(),
                        "forwarded failure");
            Check.True(first.Stop(Check.DeadlineMs), "restarted worker ended");
            Check.Equal(5, WaitFor(first, VexaSessionEventKind.Disconnected).Reason, "first cause");
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
                    Check.True(worker.Stop(Check.DeadlineMs), "fallback worker ended");
                    continue;
                }
                WaitFor(worker, VexaSessionEventKind.Failure);
                Check.True(worker.WaitUntilEnded(Check.DeadlineMs), "worker ended by itself");
                Check.Equal(VexaWorkerState.Idle, worker.State, "state at the end");
                worker.DrainEvents(backlog);
                Check.True(backlog.TrueForAll(e => e.Kind == VexaSessionEventKind.Failure),
                           "only failures: " + string.Join(", ", backlog));
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
                CheckFreshFrames(sources);
            }
            // The device went away while the loop ran.
            Check.Equal(21, WaitFor(worker, VexaSessionEventKind.Failure).Code, "the loop's failure");
            VexaSessionEvent lost = WaitFor(worker, VexaSessionEventKind.Disconnected);
            Check.Equal(VexaDeviceWorker.ReasonFailure, lost.Reason, "reason of the lost link");
            VexaDevice.ClearQueues();
            // Attempts on the vanished port fail until a device is back.
            Check.Equal(1, WaitFor(worker, VexaSessionEventKind.Failure).Code, "failed attempt");
            using (Simulator second = new Simulator("--family", "current", "--description", "FernlitVexa"))
            {
                worker.Port = second.Path;
                VexaSessionEvent back = WaitFor(worker, VexaSessionEventKind.Connected);
                Check.Equal(second.Path + " FernlitVexa", back.Path + " " + back.DeviceType, "reconnected");
                Check.Equal(VexaWorkerState.Acquiring, worker.State, "acquiring again");
                CheckFreshFrames(sources);
                Check.True(worker.Stop(Check.DeadlineMs), "worker ended");
            }
            VexaSessionEvent end = WaitFor(worker, VexaSessionEventKind.Disconnected);
            Check.Equal(VexaDeviceWorker.ReasonEnded, end.Reason, "reason of the stop");
            Check.Equal(20, backoff.NextDelayMs(), "back-off reset by the session that worked");
            Check.True(!VexaDevice.IsConnected && !VexaDevice.IsLooping, "device released");
        }

        private static void Component()
        {
            VexaDeviceBehaviour device = new VexaDeviceBehaviour();
            List<string> failures = new List<string>();
            device.onFailure.AddListener((code, message, detail) => failures.Add(code + " " + message));
            long overflowReported = 0;
            device.onSampleRingOverflow.AddListener(lost => overflowReported = lost);
            long[] firstTicks = null;
            int[] firstSamples = null;
            device.BlockRead += (ticks, samples, count, channels) =>
            {
                if (firstTicks != null) return;
                firstTicks = ticks.Take(count).ToArray();
                firstSamples = samples.Take(count * channels).ToArray();
            };
            Engine.Set(device, "channels", "0101");
            Engine.Set(device, "sampleRingCapacity", 16);
            VexaDeviceWorker worker;
            using (SilentPort silent = new SilentPort())
            {
                device.Port = silent.Path;
                Engine.Send(device, "OnEnable");
                started.Add(worker = Engine.Get<VexaDeviceWorker>(device, "worker"));
                silent.WaitForHandshake();
                Engine.Send(device, "OnDisable");
                Check.True(worker.IsRunning, "disable returned while the connect is still held");
                // Enabled again at once: the new session follows the old.
                device.Port = "SIM";
                Engine.Send(device, "OnEnable");
                Check.Poll(() => { Engine.Send(device, "Update"); return firstTicks != null; },
                           () => "no block read; failures: " + string.Join(", ", failures));
            }
            // Not read for a while, the ring overflows.
            Check.Poll(() => device.SamplesLost > 0, () => "nothing lost");
            Check.Poll(() => { Engine.Send(device, "Update"); return overflowReported > 0; },
                       () => "no overflow reached the component");
            Check.Equal("", string.Join(", ", failures), "failures (the cancelled connect reports none)");
            Check.True(device.SamplesLost >= overflowReported, "lost " + device.SamplesLost);
            Check.Equal(2, device.Channels, "channels of the blocks");
            VexaSource[] sources = { ExportTests.Source(2, 1, 16, 1), ExportTests.Source(4, 1, 16, 1) };
            SamplePattern.CheckInstants(firstTicks, firstSamples, firstTicks.Length, sources, 0);

            // Reconnection waits follow the settings at each attempt.
            device.FirstRetryDelaySeconds = 0.25f;
            device.MaxRetryDelaySeconds = 0.3f;
            Check.Equal("250 300", worker.Backoff.NextDelayMs() + " " + worker.Backoff.NextDelayMs(), "waits");

            device.Disconnect();
            Check.True(worker.WaitUntilEnded(Check.DeadlineMs), "session ended");
            Check.True(device.SamplesLost >= overflowReported, "the count outlives the ring");
            device.Connect();
            Check.Equal(0L, device.SamplesLost, "counted afresh from Connect");
            // Quitting ends the session and detaches the handlers on the
            // worker's thread.
            Engine.Send(device, "OnApplicationQuit");
            Check.True(worker.WaitUntilEnded(Check.DeadlineMs), "ended at quit");
            VexaNative.OnDisconnectEventDetected(3);
            List<VexaEvent> events = new List<VexaEvent>();
            Check.Equal(0, VexaDevice.DrainEvents(events), "handlers detached");
        }

        // The workers a test made, for the runner's cleanup to stop.
        private static readonly List<VexaDeviceWorker> started = new List<VexaDeviceWorker>();

        internal static void StopWorkers()
        {
            foreach (VexaDeviceWorker worker in started) worker.Stop(-1);
            started.Clear();
        }

        // Frames through the binding's queue, so the worker runs without the ring.
        private static VexaDeviceWorker Worker(string port, bool autoReconnect, VexaReconnectBackoff backoff = null)
        {
            backlog.Clear();
            VexaDeviceWorker worker = new VexaDeviceWorker(backoff ?? new VexaReconnectBackoff(20, 80))
            {
                Port = port, Channels = "011", BaseFrequency = 1000, Bits = 16, AutoReconnect = autoReconnect,
                UseSampleRing = false,
            };
            started.Add(worker);
            return worker;
        }

        // Events drained but not yet waited for, oldest first.
        private static readonly List<VexaSessionEvent> backlog = new List<VexaSessionEvent>();

        // Drains events until one of `kind` arrives; returns it and forgets
        // the events before it.
        private static VexaSessionEvent WaitFor(VexaDeviceWorker worker, VexaSessionEventKind kind)
        {
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

        // The session's first frames, from tick 0, carry the simulator's values.
        private static void CheckFreshFrames(VexaSource[] sources)
        {
            List<VexaFrame> frames = new List<VexaFrame>();
            Check.Await(() => VexaDevice.DrainFrames(frames) >= 0 && frames.Count >= 50, VexaDevice.WaitForData,
                        () => "only " + frames.Count + " frames");
            SamplePattern.CheckFrames(frames, sources, 0);
        }
    }
}
