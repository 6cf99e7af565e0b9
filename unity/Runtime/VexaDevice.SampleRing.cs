using System;

namespace Vexa
{
    // The pull path: with the sample ring on, the library keeps every sample
    // instant natively and the main thread copies them out in batches, for
    // example once per Update, into arrays it reuses. Nothing is allocated
    // and no managed code runs per instant; DrainFrames then gets nothing.
    public static partial class VexaDevice
    {
        // ReadSamples' 64-bit ticks for its int[] overload, reused.
        private static long[] wideTicks;

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

        // Copies the oldest waiting instants of one acquisition, as many as
        // the arrays take: ticks[i] is instant i's tick (the raw-data
        // handler's, as a count that never wraps), times[i] the moment the
        // device sampled it in seconds of VexaClock.Now (times may be null;
        // NaN where no time is known) and
        // samples[i * channels + c] its samples. channels and acquisition (1 for the
        // first start in the process, +1 at every start) say how the
        // instants were packed, read together with them. Returns how many; 0
        // when none waits. Throws ArgumentException for arrays without room
        // for one instant, InvalidOperationException while the ring is off.
        // Allocates nothing; call it from one thread at a time.
        public static int ReadSamples(long[] ticks, double[] times, int[] samples, out int channels,
                                      out int acquisition)
        {
            return ReadBlock(0, ticks, times, samples, out channels, out acquisition);
        }

        // A session's ring (0: the current device's), for VexaSession too.
        internal static int ReadBlock(int session, long[] ticks, double[] times, int[] samples, out int channels,
                                      out int acquisition)
        {
            if (ticks == null) throw new ArgumentNullException("ticks");
            // The library writes up to maxInstants entries into both arrays.
            return ReadBlock(session, ticks, times, times == null ? ticks.Length : Math.Min(ticks.Length, times.Length),
                             samples, false, out channels, out acquisition);
        }

        // offIsEmpty: a ring that is off reads as nothing waiting, as the
        // int[] overload has always answered.
        private static int ReadBlock(int session, long[] ticks, double[] times, int maxInstants, int[] samples,
                                     bool offIsEmpty, out int channels, out int acquisition)
        {
            if (samples == null) throw new ArgumentNullException("samples");
            if (maxInstants < 1) throw new ArgumentException("The arrays have no room for one instant.", "ticks");
            int n = VexaNative.VexaExtReadBlock(session, ticks, times, maxInstants, samples, samples.Length,
                                                out channels, out acquisition);
            if (n >= 0) return n;
            channels = 0;
            acquisition = 0;
            if (n == VexaNative.ErrState && offIsEmpty) return 0;
            throw ReadFailure(n, "samples");
        }

        // The same, with ticks as the raw-data handler gets them (the low 32
        // bits); 0 also while the ring is off.
        public static int ReadSamples(int[] ticks, int[] samples)
        {
            if (ticks == null) throw new ArgumentNullException("ticks");
            long[] wide = wideTicks;
            if (wide == null || wide.Length < ticks.Length) wideTicks = wide = new long[ticks.Length];
            int channels, acquisition;
            int n = ReadBlock(0, wide, null, ticks.Length, samples, true, out channels, out acquisition);
            for (int i = 0; i < n; i++) ticks[i] = unchecked((int)wide[i]);
            return n;
        }

        // The layout of the running (or last started) acquisition: per
        // channel in the order of an instant's samples, its port, index on
        // the port, bits and divisor; empty before any start. acquisition is
        // the number ReadSamples gives the instants of that acquisition.
        public static VexaChannelLayout[] GetAcquisitionLayout(out int acquisition)
        {
            return ReadLayout(0, out acquisition);
        }

        internal static VexaChannelLayout[] ReadLayout(int session, out int acquisition)
        {
            while (true)
            {
                int count = VexaNative.VexaExtGetAcquisitionLayout(session, null, 0, out acquisition);
                if (count < 0) throw ReadFailure(count, "layout");
                VexaChannelLayout[] layout = new VexaChannelLayout[count];
                int again = VexaNative.VexaExtGetAcquisitionLayout(session, layout, count, out acquisition);
                if (again < 0) throw ReadFailure(again, "layout");
                // A start in between changes the count: ask again.
                if (again == count) return layout;
            }
        }

        // The exception for a negative result of a VexaExt read; the library
        // keeps the cause as this thread's last error detail.
        private static Exception ReadFailure(int code, string argument)
        {
            string detail = VexaText.FromUtf8(VexaNative.VexaExtGetLastErrorDetail());
            switch (code)
            {
                case VexaNative.ErrBufferTooSmall:
                    return new ArgumentException(detail.Length > 0 ? detail : "The buffer has no room for one instant.",
                                                 argument);
                case VexaNative.ErrArgument:
                    return new ArgumentException(detail.Length > 0 ? detail : "A buffer or size is invalid.", argument);
                case VexaNative.ErrState:
                    return new InvalidOperationException(detail.Length > 0 ? detail : "The sample ring is off.");
                case VexaNative.ErrSession:
                    return new ObjectDisposedException("VexaSession", detail);
                default:
                    return new InvalidOperationException("The library refused the read (" + code + "): " + detail);
            }
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
