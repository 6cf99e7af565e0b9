using System.Collections.Generic;

namespace Vexa.Tests
{
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
