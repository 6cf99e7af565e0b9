using System;

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
            runner.Add("the sample ring keeps the oldest, reads what both arrays take, reports its overflow", Ring);
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
                Acquisition acquisition = new Acquisition();
                acquisition.WaitForFrames(Ticks);
                acquisition.Interrupt();
                Check.Equal(false, VexaDevice.CommunicationFlag, "flag after the interrupt");
                Check.NoEvents(acquisition.Events, "no event");
                SamplePattern.CheckFrames(acquisition.Frames, row.Expected, 0);
                VexaDevice.Stop();
                Check.Equal(0, VexaDevice.ChannelCount, "channels after the stop");
            }
        }

        private static void Ring()
        {
            VexaSource[] sources = { Source(1, 1, 16, 1), Source(3, 1, 16, 1) };
            try
            {
                VexaDevice.EnableSampleRing(16);
                VexaDevice.Connect("SIM");
                VexaDevice.StartMask(1000, 0x5, 16);
                Check.Equal(2, VexaDevice.SampleRingChannels, "ring channels");
                Acquisition acquisition = new Acquisition();
                VexaEvent overflow = acquisition.WaitForEvent();
                Check.Equal(VexaEventKind.SampleRingOverflow, overflow.Kind, "event");
                Check.Equal(100, overflow.Code, "code");
                Check.Equal("The sample ring overflowed: sample instants were dropped.", overflow.Message, "text");
                acquisition.Interrupt();
                Check.True(VexaDevice.SampleRingOverflow > 0, "dropped instants counted");
                Check.Equal(0, acquisition.Frames.Count, "frames queued while the ring is on");
                Check.Equal(1, acquisition.Events.Count, "events: " + string.Join(", ", acquisition.Events));
                // Each read takes as many instants as both arrays hold: as many
                // as the ticks, then as the samples, then what is left.
                int next = 0;
                foreach (int[] size in new[] { new[] { 10, 24 }, new[] { 40, 10 }, new[] { 40, 80 }, new[] { 9, 9 } })
                {
                    int[] ticks = new int[size[0]], samples = new int[size[1]];
                    int n = VexaDevice.ReadSamples(ticks, samples);
                    Check.Equal(Math.Min(16 - next, Math.Min(size[0], size[1] / 2)), n, "instants read");
                    for (int i = 0; i < n; i++, next++) CheckInstant(next, ticks[i], samples, i, sources);
                }
                VexaDevice.Stop();

                // Off again: the per-sample frames are back.
                VexaDevice.DisableSampleRing();
                VexaDevice.StartMask(1000, 0x5, 16);
                acquisition = new Acquisition();
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
        internal static void CheckInstant(int expected, int tick, int[] samples, int i, VexaSource[] sources)
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
