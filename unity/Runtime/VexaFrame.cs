namespace Vexa
{
    // One sample instant: the acquisition's tick counter (from 0, one per
    // tick of the base rate) and a copy of its samples, sources in start
    // order and channels ascending within a source.
    public struct VexaFrame
    {
        public readonly int Tick;
        public readonly int[] Samples;

        public VexaFrame(int tick, int[] samples)
        {
            Tick = tick;
            Samples = samples;
        }
    }
}
