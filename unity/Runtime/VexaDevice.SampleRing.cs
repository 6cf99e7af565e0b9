using System;

namespace Vexa
{
    // The pull path: with the sample ring on, the library keeps every sample
    // instant natively and the main thread copies them out in batches, for
    // example once per Update, into arrays it reuses. Nothing is allocated
    // and no managed code runs per instant; DrainFrames then gets nothing.
    public static partial class VexaDevice
    {
        // Turns the ring on and stops the per-sample frames. capacityInstants
        // <= 0 holds 10 s at the base frequency, sized at each start; a ring
        // already on takes a new capacity from the next start. When a reader
        // falls behind, the newest instants are dropped and counted
        // (SampleRingOverflow), and a SampleRingOverflow event is queued once
        // per acquisition.
        public static void EnableSampleRing(int capacityInstants = 0)
        {
            VexaCallbacks.EnsureRegistered();
            // On before the handler goes: no instant falls between the two.
            VexaNative.VexaExtEnableSampleRing(capacityInstants);
            VexaCallbacks.SetPulling(true);
        }

        // Turns the ring off, dropping what it still holds, and brings the
        // per-sample frames back.
        public static void DisableSampleRing()
        {
            VexaCallbacks.SetPulling(false);
            VexaNative.VexaExtDisableSampleRing();
        }

        // Copies the oldest waiting instants, as many as both arrays take:
        // ticks[i] is instant i's tick and samples[i * SampleRingChannels + c]
        // its samples. Returns how many; 0 when none waits or the ring is off.
        // Allocates nothing; call it from one thread at a time.
        public static int ReadSamples(int[] ticks, int[] samples)
        {
            if (ticks == null) throw new ArgumentNullException("ticks");
            if (samples == null) throw new ArgumentNullException("samples");
            int n = VexaNative.VexaExtReadSamples(ticks, ticks.Length, samples, samples.Length);
            return n > 0 ? n : 0;
        }

        // Samples per instant of the ring's acquisition (the last start's).
        public static int SampleRingChannels
        {
            get { return VexaNative.VexaExtGetSampleRingChannels(); }
        }

        // Instants dropped because the ring was full, since the last start.
        public static long SampleRingOverflow
        {
            get { return VexaNative.VexaExtGetSampleRingOverflow(); }
        }
    }
}
