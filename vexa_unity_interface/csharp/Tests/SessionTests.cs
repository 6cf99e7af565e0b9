using System;
using System.IO;
using System.Text;
using System.Threading.Tasks;

namespace Vexa.Tests
{
    // What VexaSession adds over the exports: handles that die with Close,
    // reads into the caller's arrays per session, the event struct's layout,
    // and the library's codes turned into exceptions. (The sessions a domain
    // leaves open are closed at its unload: the Mono host's SessionLeftOpen.)
    internal static class SessionTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("two sessions open, start and run without the caller waiting; each reads every tick of its " +
                       "own device with times; a closed session throws", TwoDevices);
            runner.Add("a session's events, its recording and a marker for every recording", EventsAndRecording);
            runner.Add("session refusals become the exceptions a caller expects", Refusals);
        }

        private static readonly VexaSource[] PortsOneAndThree = { Source(1), Source(3) };
        private static readonly VexaSource[] PortTwo = { Source(2) };

        private static VexaSource Source(int port)
        {
            return new VexaSource { Port = port, ChMask = 1, NBits = 16, FreqDivisor = 1 };
        }

        private static void TwoDevices()
        {
            Task<VexaSession> openA = VexaSession.OpenAsync("SIM"), openB = VexaSession.OpenAsync("SIM");
            using (VexaSession a = openA.Result, b = openB.Result)
            {
                Check.True(a.Handle > 0 && b.Handle > 0 && a.Handle != b.Handle, "handles " + a.Handle +
                           " " + b.Handle);
                Check.Equal("tessarimodular", a.DeviceType, "device type");
                Check.True(a.Battery >= 0 && a.Battery <= 100, "battery " + a.Battery);
                Task.WaitAll(a.StartAsync(1000, 0x5, 16), b.StartAsync(500, PortTwo));
                a.Run();
                b.Run();
                Check.Throws<InvalidOperationException>(() => { int unused = a.Battery; },
                                                        "the battery while the loop reads the device");
                ReadEveryTick(a, PortsOneAndThree, 300);
                ReadEveryTick(b, PortTwo, 200);
                int acquisition;
                Check.Equal("1:0:16:1 3:0:16:1", string.Join(" ", Array.ConvertAll(a.GetAcquisitionLayout(
                    out acquisition), c => c.Port + ":" + c.Index + ":" + c.Bits + ":" + c.Divisor)), "a's layout");
                int handleA = a.Handle;
                a.CloseAsync().Wait();
                Check.Throws<ObjectDisposedException>(() => a.Run(), "a call on a closed session");
                Check.Throws<ObjectDisposedException>(
                    () => a.Read(new long[4], null, new int[8], out acquisition, out acquisition), "a read");
                a.Close();
                Check.Equal(VexaNative.ErrSession, VexaNative.VexaExtRun(handleA), "the handle is gone");
                ReadEveryTick(b, PortTwo, 100);
            }
            VexaException refused = Check.Throws<VexaException>(() => VexaSession.Open("COM/dev/vexa-no-such-port"),
                                                                 "a port that does not exist");
            Check.Equal(VexaNative.ErrLink, refused.Code, "code (" + refused.Detail + ")");
            Check.True(refused.Detail.Length > 0, "the cause is given");
        }

        // Reads until `count` more instants came, checking each against the
        // simulator's pattern; the first read of an acquisition starts at
        // its tick 0.
        private static void ReadEveryTick(VexaSession session, VexaSource[] sources, int count)
        {
            long[] ticks = new long[64];
            double[] times = new double[64];
            int[] samples = new int[64 * sources.Length];
            long first = -1;
            int got = 0;
            Check.Poll(() =>
            {
                int channels, acquisition;
                int n = session.Read(ticks, times, samples, out channels, out acquisition);
                if (n == 0) return false;
                Check.Equal(sources.Length, channels, "channels");
                if (first < 0) first = ticks[0];
                SamplePattern.CheckInstants(ticks, samples, n, sources, checked((int)(first + got)));
                // Times come from the clock fit as it stands at the read: in
                // order within one read, while an earlier arrival may move
                // the next read's times back a little.
                double lastTime = double.NegativeInfinity;
                for (int i = 0; i < n; i++)
                {
                    Check.True(times[i] > lastTime && times[i] < VexaClock.Now, "time of tick " + ticks[i]);
                    lastTime = times[i];
                }
                got += n;
                return got >= count;
            }, () => "session " + session.Handle + ": " + got + " of " + count + " instants");
        }

        private static void EventsAndRecording()
        {
            string pathA = Path.Combine(Path.GetTempPath(), "vexa_cs_session_a_" + Environment.TickCount + ".csv");
            string pathB = Path.ChangeExtension(pathA, null) + "b.csv";
            try
            {
                using (VexaSession a = VexaSession.Open("SIM"), b = VexaSession.Open("SIM"))
                {
                    foreach (VexaSession s in new[] { a, b })
                    {
                        s.Start(1000, 0x1, 16);
                        s.Run();
                    }
                    a.StartRecording(pathA);
                    b.StartRecording(pathB);
                    ReadEveryTick(a, new[] { Source(1) }, 50);
                    VexaSession.AddMarkerToAll("both \u03A9");
                    a.AddMarker("a only", VexaClock.Now - 0.01);
                    ReadEveryTick(a, new[] { Source(1) }, 200);
                    a.StopRecording();
                    b.StopRecording();
                    a.Halt();
                    b.Stop();
                    VexaDeviceEvent[] events = new VexaDeviceEvent[8];
                    foreach (var c in new[] { new { S = a, Code = VexaSession.LoopHalted },
                                              new { S = b, Code = VexaSession.LoopStopped } })
                    {
                        int n = c.S.ReadEvents(events);
                        Check.True(n >= 1, "an event after the loop's end");
                        VexaDeviceEvent ended = events[n - 1];
                        Check.Equal("LoopEnded " + c.Code + " " + c.S.Handle + " -1 \"\"", ended.Kind + " " +
                                    ended.Code + " " + ended.Session + " " + ended.Tick + " \"" + ended.Text + "\"",
                                    "the loop's end");
                        Check.True(ended.Time <= VexaClock.Now && ended.Time > VexaClock.Now - 10, "its time " +
                                   ended.Time);
                    }
                    Check.Throws<InvalidOperationException>(() => a.StopRecording(), "no recording runs");
                }
                string textA = File.ReadAllText(pathA, Encoding.UTF8), textB = File.ReadAllText(pathB, Encoding.UTF8);
                Check.True(textA.Contains("both \u03A9") && textB.Contains("both \u03A9"), "the marker in both files");
                Check.True(textA.Contains("a only") && !textB.Contains("a only"), "a's marker in a's file only");
            }
            finally
            {
                File.Delete(pathA);
                File.Delete(pathB);
            }
        }

        private static void Refusals()
        {
            using (Simulator device = new Simulator())
            using (VexaSession session = VexaSession.Open(device.Path))
            {
                var cases = new[]
                {
                    new { What = "an empty path", Call = (Action)(() => VexaSession.Open("")),
                          Thrown = typeof(ArgumentException), Code = 0 },
                    new { What = "its link again", Call = (Action)(() => VexaSession.Open(device.Path)),
                          Thrown = typeof(VexaException), Code = VexaNative.ErrInUse },
                    new { What = "a loop before a start", Call = (Action)(() => session.Run()),
                          Thrown = typeof(InvalidOperationException), Code = 0 },
                    new { What = "a marker with nothing recording", Call = (Action)(() => session.AddMarker("m")),
                          Thrown = typeof(InvalidOperationException), Code = 0 },
                    new { What = "dataType 2 with one value",
                          Call = (Action)(() => session.SetParameter(3, 3, new[] { 7 }, 2)),
                          Thrown = typeof(ArgumentException), Code = 0 },
                };
                foreach (var c in cases)
                {
                    Exception e = Check.Throws<Exception>(c.Call, c.What);
                    Check.Equal(c.Thrown, e.GetType(), c.What + ": " + e.Message);
                    if (c.Code != 0) Check.Equal(c.Code, ((VexaException)e).Code, c.What + " code: " + e);
                }
                // Refusals touch nothing: the session still acquires.
                session.Start(1000, PortTwo);
                session.Run();
                ReadEveryTick(session, PortTwo, 50);
            }
        }
    }
}
