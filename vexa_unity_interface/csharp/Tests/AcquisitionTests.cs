using System;
using System.Threading;

namespace Vexa.Tests
{
    // Each start streams from the simulator; every tick and every sample the
    // host receives is checked against the simulator's pattern.
    internal static class AcquisitionTests
    {
        private const int Ticks = 200;

        internal static void Register(TestRunner runner)
        {
            runner.Add("each start acquires its channels: every tick and sample as the device sent it", Starts);
            runner.Add("the sample ring delivers every tick and sample, with no frame per instant", PullPath);
            runner.Add("the sample ring keeps the oldest, counts and reports its overflow", PullOverflow);
        }

        private static void Starts()
        {
            // Product 0x0205 takes 24-bit samples and 16-bit channel masks. No
            // source of the third row is sampled at ticks 1, 5, 7, ...: those
            // repeat values.
            VexaSource[] sources = { Source(1, 2, 24, 0x0103), Source(9, 3, 16, 15), Source(5, 4, 8, 0x8001) };
            var rows = new[]
            {
                // "x" is not "1": skipped, but it still counts as port 2.
                new { Start = (Action)(() => VexaDevice.StartChannels(1000, "1x11", 16)),
                      Expected = new[] { Source(1, 1, 16, 1), Source(3, 1, 16, 1), Source(4, 1, 16, 1) } },
                new { Start = (Action)(() => VexaDevice.StartMask(1000, 0x13, 8)),
                      Expected = new[] { Source(1, 1, 8, 1), Source(2, 1, 8, 1), Source(5, 1, 8, 1) } },
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
                Acquisition acquisition = Acquisition.StartLoop();
                acquisition.WaitForFrames(Ticks);
                acquisition.Interrupt();
                Check.Equal(false, VexaDevice.CommunicationFlag, "flag after the interrupt");
                Check.NoEvents(acquisition.Events, "no event");
                SamplePattern.CheckFrames(acquisition.Frames, row.Expected, 0);
                VexaDevice.Stop();
                Check.Equal(0, VexaDevice.ChannelCount, "channels after the stop");
            }
        }

        private static void PullPath()
        {
            VexaSource[] sources = { Source(1, 1, 16, 0x3), Source(4, 2, 8, 1) };
            try
            {
                VexaDevice.EnableSampleRing(1000);
                VexaDevice.Connect("SIM");
                VexaDevice.StartSources(2000, sources);
                int channels = VexaDevice.SampleRingChannels;
                Check.Equal(3, channels, "ring channels");
                Acquisition acquisition = Acquisition.StartLoop();
                // An odd batch size: reads end at varied places of the ring,
                // which wraps four times.
                int[] ticks = new int[97];
                int[] samples = new int[97 * channels];
                int next = 0;
                int deadline = Environment.TickCount + 15000;
                while (next < 4000 && Environment.TickCount < deadline)
                {
                    int n = VexaDevice.ReadSamples(ticks, samples);
                    if (n == 0) Thread.Sleep(1);
                    for (int i = 0; i < n; i++, next++) CheckInstant(next, ticks[i], samples, i, sources);
                }
                acquisition.Interrupt();
                Check.True(next >= 4000, "4000 instants pulled, got " + next);
                Check.Equal(0, acquisition.Frames.Count, "frames queued while the ring is on");
                Check.Equal(0L, VexaDevice.SampleRingOverflow, "instants dropped");
                Check.NoEvents(acquisition.Events, "no event");
            }
            finally
            {
                VexaDevice.DisableSampleRing();
            }
        }

        private static void PullOverflow()
        {
            VexaSource[] sources = { Source(1, 1, 16, 1), Source(3, 1, 16, 1) };
            try
            {
                VexaDevice.EnableSampleRing(16);
                VexaDevice.Connect("SIM");
                VexaDevice.StartMask(1000, 0x5, 16);
                Acquisition acquisition = Acquisition.StartLoop();
                VexaEvent overflow = acquisition.WaitForEvent();
                Check.Equal(VexaEventKind.SampleRingOverflow, overflow.Kind, "event");
                Check.Equal(100, overflow.Code, "code");
                Check.Equal("The sample ring overflowed: sample instants were dropped.", overflow.Message, "text");
                Check.True(VexaDevice.SampleRingOverflow > 0, "dropped instants counted");
                int[] ticks = new int[40];
                int[] samples = new int[80];
                Check.Equal(16, VexaDevice.ReadSamples(ticks, samples), "instants kept");
                for (int i = 0; i < 16; i++) CheckInstant(i, ticks[i], samples, i, sources);
                acquisition.Interrupt();
                Check.Equal(1, acquisition.Events.Count, "events: " + string.Join(", ", acquisition.Events));
                VexaDevice.Stop();

                // Off again: the per-sample frames are back.
                VexaDevice.DisableSampleRing();
                VexaDevice.StartMask(1000, 0x5, 16);
                acquisition = Acquisition.StartLoop();
                acquisition.WaitForFrames(50);
                acquisition.Interrupt();
                SamplePattern.CheckFrames(acquisition.Frames, sources, 0);
            }
            finally
            {
                VexaDevice.DisableSampleRing();
            }
        }

        // Instant i of a batch read from the ring must be tick `expected`.
        private static void CheckInstant(int expected, int tick, int[] samples, int i, VexaSource[] sources)
        {
            Check.Equal(expected, tick, "tick");
            int[] want = SamplePattern.Expected(tick, sources);
            for (int c = 0; c < want.Length; c++)
            {
                Check.Equal(want[c], samples[i * want.Length + c], "sample " + c + " at tick " + tick);
            }
        }

        internal static VexaSource Source(int port, int divisor, int nBits, int chMask)
        {
            return new VexaSource(port, divisor, nBits, chMask);
        }
    }
}
