using System;

namespace Vexa
{
    // Stand-in for the sample ring members until they land: same names and
    // signatures, no behaviour.
    public static partial class VexaDevice
    {
        public static void EnableSampleRing(int capacityInstants = 0)
        {
            throw new NotImplementedException("The sample ring is not available in this build.");
        }

        public static void DisableSampleRing()
        {
            throw new NotImplementedException("The sample ring is not available in this build.");
        }

        public static int ReadSamples(int[] ticks, int[] samples)
        {
            throw new NotImplementedException("The sample ring is not available in this build.");
        }

        public static int SampleRingChannels
        {
            get { throw new NotImplementedException("The sample ring is not available in this build."); }
        }

        public static long SampleRingOverflow
        {
            get { throw new NotImplementedException("The sample ring is not available in this build."); }
        }
    }
}
