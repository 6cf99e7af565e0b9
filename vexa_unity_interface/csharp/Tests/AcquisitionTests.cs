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
            runner.Add("StartChannels acquires the ports marked with 1", ByChannels);
            runner.Add("StartMask acquires channel 1 of each set bit's port", ByMask);
            runner.Add("StartSources acquires widths, divisors, wide masks and idle ticks", BySources);
            runner.Add("StartStrandelo acquires port 1 at the channel rate", Strandelo);
        }

        private static void ByChannels()
        {
            // "x" is not "1": skipped, but it still counts as port 2.
            Acquire(new string[0], () => VexaDevice.StartChannels(1000, "1x11", 16),
                    new[] { Source(1, 1, 16, 1), Source(3, 1, 16, 1), Source(4, 1, 16, 1) });
        }

        private static void ByMask()
        {
            Acquire(new string[0], () => VexaDevice.StartMask(1000, 0x13, 8),
                    new[] { Source(1, 1, 8, 1), Source(2, 1, 8, 1), Source(5, 1, 8, 1) });
        }

        private static void BySources()
        {
            // Product 0x0205 takes 24-bit samples and 16-bit channel masks. No
            // source is sampled at ticks 1, 5, 7, ...: those repeat values.
            VexaSource[] sources =
            {
                Source(1, 2, 24, 0x0103),
                Source(9, 3, 16, 15),  // also has its gain written first
                Source(5, 4, 8, 0x8001),
            };
            Acquire(new[] { "--product", "0x0205" }, () => VexaDevice.StartSources(2000, sources), sources);
        }

        private static void Strandelo()
        {
            Acquire(new string[0], () => VexaDevice.StartStrandelo(1000, 16, 250), new[] { Source(1, 4, 16, 1) });
        }

        private static VexaSource Source(int port, int divisor, int nBits, int chMask)
        {
            return new VexaSource(port, divisor, nBits, chMask);
        }

        // Starts, loops until Ticks frames arrived, interrupts and stops,
        // checking the acquisition's state along the way.
        private static void Acquire(string[] simArgs, Action start, VexaSource[] expected)
        {
            int channels = SamplePattern.Expected(0, expected).Length;
            using (Simulator sim = new Simulator(simArgs))
            {
                VexaDevice.Connect(sim.Path);
                start();
                Check.Equal(channels, VexaDevice.ChannelCount, "channels while acquiring");
                Check.Equal(true, VexaDevice.CommunicationFlag, "flag after the start");

                Acquisition acquisition = Acquisition.StartLoop();
                acquisition.WaitForFrames(Ticks);
                acquisition.Interrupt();
                Check.Equal(false, VexaDevice.CommunicationFlag, "flag after the interrupt");
                Check.Equal(0, acquisition.Events.Count, "no event: " + string.Join(", ", acquisition.Events));
                SamplePattern.CheckFrames(acquisition.Frames, expected, 0);

                VexaDevice.Stop();
                Check.Equal(0, VexaDevice.ChannelCount, "channels after the stop");
            }
        }
    }
}
