using System;

namespace Vexa.Tests
{
    // Each start of the binding streams from the simulator; every tick and
    // every sample the host receives is checked against the simulator's
    // pattern. What the library does with each start's arguments is the
    // native tests' business: here a slip in the binding's own marshalling
    // shows.
    internal static class AcquisitionTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("each start acquires its channels: every tick and sample as the device sent it", Starts);
            runner.Add("the sample ring: reads what both arrays take, replaces the frames, reports its overflow", Ring);
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
                acquisition.WaitForFrames(100);
                acquisition.Interrupt();
                Check.Equal("", string.Join(", ", acquisition.Events), "events");
                SamplePattern.CheckFrames(acquisition.Frames, row.Expected, 0);
                VexaDevice.Stop();
            }
        }

        // The ring itself is the native tests' business: here the binding
        // passes both arrays' lengths, empties the raw-data slot while the
        // ring is on and turns the overflow report into its own event.
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
                Check.Equal("SampleRingOverflow 100", overflow.Kind + " " + overflow.Code, "event");
                acquisition.Interrupt();
                Check.Equal(0, acquisition.Frames.Count, "frames queued while the ring is on");
                Check.Equal(1, acquisition.Events.Count, "events: " + string.Join(", ", acquisition.Events));
                // Each read takes as many instants as both arrays hold: as many
                // as the ticks, then as the samples, then what is left.
                int next = 0;
                foreach (int[] size in new[] { new[] { 10, 24 }, new[] { 40, 10 }, new[] { 40, 80 } })
                {
                    int[] ticks = new int[size[0]], samples = new int[size[1]];
                    int n = VexaDevice.ReadSamples(ticks, samples);
                    Check.Equal(Math.Min(16 - next, Math.Min(size[0], size[1] / 2)), n, "instants read");
                    SamplePattern.CheckInstants(ticks, samples, n, sources, next);
                    next += n;
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

        internal static VexaSource Source(int port, int divisor, int nBits, int chMask)
        {
            return new VexaSource(port, divisor, nBits, chMask);
        }
    }
}
