using System;
using System.Collections.Generic;
using System.Threading.Tasks;

namespace Vexa.Tests
{
    // The binding's own part of each export: arguments it checks, reports
    // turned into exceptions, events queued from the handlers, calls kept
    // away from a running loop; each start and the sample ring streaming from
    // the simulator, every tick and sample checked against its pattern.
    internal static class ExportTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("connect reads the device; a failed connect keeps it and names its cause", Connect);
            runner.Add("without a device: bad arguments refused before the library reads them, loop calls " +
                       "return and the loop's failure 21 is queued", NoDevice);
            runner.Add("the On exports reach the registered handlers unchanged", Forwarders);
            runner.Add("device calls wait for the loop; Disconnect ends it first", GuardsAgainstRunningLoop);
            runner.Add("the sources and one-channel starts: every tick and sample as the device sent it", Starts);
            runner.Add("the sample ring: reads what the arrays take with their layout, replaces the frames, reports " +
                       "its overflow, refuses arrays too small", Ring);
        }

        private static void Connect()
        {
            VexaDevice.Connect("SIM:current --description FernlitVexa --product 0x0205");
            Check.True(VexaDevice.IsConnected, "connected");
            Check.Equal("FernlitVexa 517 96", VexaDevice.DeviceType + " " + VexaDevice.ProductId + " " +
                                              VexaDevice.Battery, "type, product, battery");

            VexaException e = Check.Reports(1, () => VexaDevice.Connect("COM/dev/nonexistent"), "missing port");
            Check.Equal("open /dev/nonexistent: No such file or directory (errno 2)", e.Detail, "the cause");
            Check.True(VexaDevice.IsConnected, "the earlier device stays");

            VexaDevice.Disconnect();
            // A cancelled connect reports nothing and connects nothing.
            using (SilentPort silent = new SilentPort())
            {
                Task connecting = Task.Run(() => VexaDevice.Connect(silent.Path));
                silent.WaitForHandshake();
                VexaDevice.Cancel();
                Check.True(connecting.Wait(Check.DeadlineMs), "the cancelled connect returned");
            }
            Check.True(!VexaDevice.IsConnected, "nothing connected by a cancelled connect");
            VexaException other = Check.Reports(31, () => { int unused = VexaDevice.ProductId; },
                                                "product after disconnect");
            Check.Equal("", other.Detail, "a failure without a cause has no stale one");
            Check.True(VexaLog.Version.Split('.').Length == 3, "version: " + VexaLog.Version);
        }

        private static void NoDevice()
        {
            Check.True(VexaDevice.Interrupt(), "interrupt with no loop");
            VexaDevice.Stop();
            VexaDevice.Disconnect();
            VexaDevice.RunLoop();  // returns at once
            List<VexaEvent> events = new List<VexaEvent>();
            VexaDevice.DrainEvents(events);
            Check.Equal("Failure(21, The object instance is invalid.)", string.Join(", ", events), "queued");
            Check.True(!VexaDevice.IsLooping, "loop ended");
            Check.Throws<ArgumentNullException>(() => VexaDevice.Connect(null), "null path");
            Check.Throws<ArgumentNullException>(() => VexaDevice.StartChannels(1000, null, 16), "null channels");
            Check.Throws<ArgumentNullException>(() => VexaDevice.StartSources(1000, null), "null sources");
            Check.Throws<ArgumentNullException>(() => VexaDevice.SetParameter(1, 3, null, 2), "null data");
            Check.Throws<ArgumentException>(() => VexaDevice.SetParameter(1, 3, new[] { 80 }, 2),
                                            "type 2 with one value");
            Check.Throws<ArgumentException>(() => VexaDevice.SetParameter(1, 1, new int[0], 1),
                                            "type 1 with no value");
            Check.Throws<ArgumentNullException>(() => VexaDevice.Scan(null), "null domain");
            Check.Throws<ArgumentOutOfRangeException>(() => VexaDevice.MaxQueuedFrames = 0, "no room for frames");
            Check.Throws<ArgumentNullException>(() => VexaWireTrace.Start(null), "null trace path");
            VexaException trace = Check.Throws<VexaException>(() => VexaWireTrace.Start("t.trace"), "no device");
            Check.Equal(-5 + " No device is connected.", trace.Code + " " + trace.Detail, "trace refused");
        }

        // After a scan, as before it: found devices are queued as events.
        private static void Forwarders()
        {
            VexaDevice.Initialize();
            Check.Reports(27, () => VexaDevice.Scan("XYZ"), "unknown domain");
            VexaNative.OnDigInEventDetected(1, 2, 3, true);
            VexaNative.OnDigInEventDetected(-4, 5, 0, false);
            VexaNative.OnDisconnectEventDetected(5);
            VexaNative.OnExceptionRaised(7, "100% lost\n");
            VexaNative.OnNewDeviceFound("BTH00:11:22:33:44:55");

            List<VexaEvent> events = new List<VexaEvent>();
            VexaDevice.DrainEvents(events);
            Check.Equal("DigitalInput(1, 2, 3, True) DigitalInput(-4, 5, 0, False) Disconnect(reason 5) " +
                        "Failure(7, 100% lost\n) DeviceFound(BTH00:11:22:33:44:55)", string.Join(" ", events), "events");
        }

        private static void GuardsAgainstRunningLoop()
        {
            VexaDevice.Connect("SIM");
            VexaDevice.StartMask(1000, 1, 16);
            Acquisition acquisition = new Acquisition();
            acquisition.WaitForFrames(10);
            Check.Throws<InvalidOperationException>(() => { int unused = VexaDevice.Battery; }, "battery");
            Check.Throws<InvalidOperationException>(() => VexaDevice.StartMask(1000, 2, 16), "second start");
            Check.Throws<InvalidOperationException>(() => VexaDevice.SetParameter(1, 1, new[] { 1 }, 1),
                                                    "parameter");
            Check.Throws<InvalidOperationException>(VexaDevice.RunLoop, "second loop");
            Check.Equal(1, VexaDevice.ChannelCount, "reading the channel count is fine");

            VexaDevice.Disconnect();
            Check.True(!VexaDevice.IsConnected, "disconnected");
            acquisition.Join();
            Check.Equal(0, acquisition.Events.Count, "events: " + string.Join(", ", acquisition.Events));
        }

        private static void Starts()
        {
            // What the library does with each start's arguments is the native
            // tests' business: here a slip in the binding's marshalling shows.
            // (The other tests start by mask, the worker's by channel text.)
            // Product 0x0205 takes 24-bit samples and 16-bit channel masks. No
            // source of the first row is sampled at ticks 1, 5, 7, ...: those
            // repeat values.
            VexaSource[] sources = { Source(1, 2, 24, 0x0103), Source(9, 3, 16, 15), Source(5, 4, 8, 0x8001) };
            var rows = new[]
            {
                new { Start = (Action)(() => VexaDevice.StartSources(2000, sources)), Expected = sources },
                new { Start = (Action)(() => VexaDevice.StartStrandelo(1000, 16, 250)),
                      Expected = new[] { Source(1, 4, 16, 1) } },
            };
            VexaDevice.Connect("SIM:current --product 0x0205");
            foreach (var row in rows)
            {
                row.Start();
                Check.Equal(SamplePattern.Expected(0, row.Expected).Length, VexaDevice.ChannelCount, "channels");
                Check.Equal(true, VexaDevice.CommunicationFlag, "flag after the start");
                Acquisition acquisition = new Acquisition();
                acquisition.WaitForFrames(100);
                acquisition.Interrupt();
                Check.Equal("", string.Join(", ", acquisition.Events), "events");
                SamplePattern.CheckFrames(acquisition.Frames, row.Expected, 0);
                VexaDevice.Stop();
            }
        }

        // The ring itself is the native tests' business: here the binding
        // passes the arrays' lengths, empties the raw-data slot while the
        // ring is on, turns the overflow report into its own event, hands
        // over the layout, and refuses arrays that cannot take one instant
        // instead of reading nothing.
        private static void Ring()
        {
            VexaSource[] two = { Source(1, 1, 16, 1), Source(3, 1, 16, 1) };
            VexaDevice.EnableSampleRing(16);
            VexaDevice.Connect("SIM");
            VexaDevice.StartMask(1000, 0x5, 16);
            int first;
            Check.Equal("port 1 ch 0 16 bits /1, port 3 ch 0 16 bits /1",
                        string.Join(", ", VexaDevice.GetAcquisitionLayout(out first)), "layout");
            Acquisition acquisition = new Acquisition();
            VexaEvent overflow = acquisition.WaitForEvent();
            Check.Equal("SampleRingOverflow 100", overflow.Kind + " " + overflow.Code, "event");
            acquisition.Interrupt();
            Check.Equal(0, acquisition.Frames.Count, "frames queued while the ring is on");
            Check.Equal(1, acquisition.Events.Count, "events: " + string.Join(", ", acquisition.Events));
            // Each read takes as many instants as every array holds:
            // ticks, times, samples, then what is left.
            int next = 0;
            foreach (int[] size in new[] { new[] { 10, 10, 24 }, new[] { 40, 3, 80 }, new[] { 2, -1, 80 } })
            {
                long[] ticks = new long[size[0]];
                int[] samples = new int[size[2]];
                double[] times = size[1] < 0 ? null : new double[size[1]];
                int channels, number;
                int n = VexaDevice.ReadSamples(ticks, times, samples, out channels, out number);
                // Sampled before now, one after the other, on the clock VexaClock reads.
                for (int i = 0; times != null && i < n; i++)
                    Check.True(times[i] < VexaClock.Now && (i == 0 || times[i] > times[i - 1]),
                               "time " + i + ": " + string.Join(" ", times));
                int room = Math.Min(size[0], Math.Min(size[1] < 0 ? size[0] : size[1], size[2] / 2));
                Check.Equal(Math.Min(16 - next, room) + " 2 " + first, n + " " + channels + " " + number,
                            "instants, channels, acquisition");
                SamplePattern.CheckInstants(ticks, samples, n, two, next);
                next += n;
            }
            // The last instant through the 32-bit ticks.
            int[] narrowTicks = new int[3], narrowSamples = new int[6];
            Check.Equal(1, VexaDevice.ReadSamples(narrowTicks, narrowSamples), "instants at 32 bits");
            SamplePattern.CheckInstants(Array.ConvertAll(narrowTicks, t => (long)t), narrowSamples, 1, two, 15);
            double before = VexaNative.VexaExtGetHostTime(), now = VexaClock.Now;
            Check.True(before <= now && now <= VexaNative.VexaExtGetHostTime(), "VexaClock.Now");
            Check.True(Math.Abs(VexaClock.ToUnityTime(now, () => VexaClock.Now + 100) - now - 100) < 1e-3 &&
                       Math.Abs(VexaClock.FromUnityTime(now + 100, () => VexaClock.Now + 100) - now) < 1e-3,
                       "a Unity clock 100 s ahead");
            // Arrays without room for one instant are an error even with
            // nothing waiting, never "nothing waiting".
            Check.Throws<ArgumentException>(() => VexaDevice.ReadSamples(new int[4], new int[1]), "one sample");
            Check.Throws<ArgumentException>(() => VexaDevice.ReadSamples(new int[0], new int[8]), "no tick");
            Check.Throws<ArgumentException>(() => VexaDevice.ReadSamples(new long[4], new double[0], new int[8],
                                                                         out first, out first), "no time");
            // Off again (the later tests get their frames per sample): the
            // 64-bit read says so, the int[] one reads nothing, as it always has.
            VexaDevice.Stop();
            VexaDevice.DisableSampleRing();
            Check.Throws<InvalidOperationException>(() => VexaDevice.ReadSamples(new long[4], null, new int[8],
                                                                                 out first, out first), "off");
            Check.Equal(0, VexaDevice.ReadSamples(new int[4], new int[8]), "off, int[] ticks");
        }

        internal static VexaSource Source(int port, int divisor, int nBits, int chMask)
        {
            return new VexaSource(port, divisor, nBits, chMask);
        }
    }
}
