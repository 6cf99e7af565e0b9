// The age of data when a Unity script gets it: the C# runtime on the
// built-in simulated device (a "SIM:" path) with its clock pattern, which
// carries in channels 0 and 1 of port 1 the microseconds of host time at
// which each instant was due. The main thread plays a game at one frame per
// 16 ms: it sleeps until the next 16 ms boundary of VexaClock.Now, reads
// everything the sample ring holds, with times, and takes the age of the
// newest instant read: VexaClock.Now after the read minus that instant's
// true due time. Prints per case the age's median and p99, how many frames
// found nothing, the age of the newest instant the game holds at every
// frame (an empty frame keeps the last one), and how far the age the game
// can compute itself (Now minus the instant's time from the library) is
// from the true one.
//
//   mono AgeBench.exe [SECONDS per case = 30] [SETTLE seconds = 5]
using System;
using System.Globalization;
using System.Runtime.InteropServices;
using System.Threading;
using Vexa;

internal static class AgeBench
{
    private const double FrameSeconds = 0.016;

    private static int Main(string[] args)
    {
        double seconds = args.Length > 0 ? double.Parse(args[0], CultureInfo.InvariantCulture) : 30;
        double settle = args.Length > 1 ? double.Parse(args[1], CultureInfo.InvariantCulture) : 5;
        // The library's log goes to vexa_logs_file.txt; the table keeps a
        // copy of the console.
        Console.Out.Flush();
        Console.SetOut(new Vexa.Tests.FdWriter(dup(1)));
        VexaDevice.OpenLogFile();

        Console.WriteLine("| Rate | Jitter | Age median | Age p99 | Age max | Frames with nothing | Held age p99 | " +
                          "Held age max | Instants per frame | Own estimate's error median | p99 |");
        Console.WriteLine("|---|---|---|---|---|---|---|---|---|---|---|");
        int failed = 0;
        foreach (int rate in new[] { 1000, 10000 })
        {
            foreach (int jitter in new[] { 0, 5, 30 })
            {
                if (!Measure(rate, jitter, seconds, settle)) failed++;
            }
        }
        VexaDevice.Shutdown();
        return failed == 0 ? 0 : 1;
    }

    [DllImport("libc")]
    private static extern int dup(int fd);

    // The due time in seconds that a 32-bit microsecond count (wrapping
    // every 71.6 minutes) means near `near`.
    private static double TruthOf(int low, int high, double near)
    {
        const double wrap = 4294967296e-6;
        uint micros = ((uint)high & 0xFFFF) << 16 | ((uint)low & 0xFFFF);
        double carried = micros * 1e-6 + 0.5e-6;  // the middle of its microsecond
        return carried + wrap * Math.Round((near - carried) / wrap);
    }

    private static bool Measure(int rate, int jitter, double seconds, double settle)
    {
        VexaDevice.EnableSampleRing();
        VexaDevice.Connect(string.Format(CultureInfo.InvariantCulture,
                                         "SIM:current --jitter-ms {0} --pattern clock --seed {1}", jitter,
                                         rate + jitter));
        VexaDevice.StartSources(rate, new[] { new VexaSource(1, 1, 16, 0x3) });
        Thread loop = VexaDevice.StartLoopThread();

        // A second of instants per read call; reused, as a game would.
        long[] ticks = new long[rate];
        double[] times = new double[rate];
        int[] samples = new int[rate * 2];
        int frames = (int)((seconds + settle) / FrameSeconds) + 2;
        double[] ages = new double[frames], ownErrors = new double[frames], held = new double[frames];
        double heldTruth = double.NaN;
        int measured = 0, empty = 0, total = 0;
        long instants = 0;
        double began = VexaClock.Now;
        while (VexaClock.Now - began < settle + seconds)
        {
            double now = VexaClock.Now;
            double boundary = (Math.Floor(now / FrameSeconds) + 1) * FrameSeconds;
            Thread.Sleep((int)Math.Ceiling((boundary - now) * 1000));
            int n, read = 0, channels, acquisition;
            int newest = -1;
            double newestTime = double.NaN;
            int low = 0, high = 0;
            do
            {
                n = VexaDevice.ReadSamples(ticks, times, samples, out channels, out acquisition);
                if (n > 0)
                {
                    newest = n - 1;
                    newestTime = times[newest];
                    low = samples[newest * channels];
                    high = samples[newest * channels + 1];
                }
                read += n;
            } while (n == ticks.Length);
            double readAt = VexaClock.Now;
            if (readAt - began < settle) continue;
            if (newest >= 0) heldTruth = TruthOf(low, high, readAt);
            if (double.IsNaN(heldTruth)) continue;
            held[total++] = readAt - heldTruth;
            instants += read;
            if (newest < 0)
            {
                empty++;
                continue;
            }
            double truth = heldTruth;
            ages[measured] = readAt - truth;
            ownErrors[measured] = Math.Abs(newestTime - truth);
            measured++;
        }
        VexaDevice.Interrupt();
        loop.Join();
        long overflow = VexaDevice.SampleRingOverflow;
        VexaDevice.Stop();
        VexaDevice.Disconnect();
        VexaDevice.DisableSampleRing();
        if (measured == 0 || overflow != 0)
        {
            Console.WriteLine("| {0} Hz | {1} ms | failed: {2} frames with data, {3} instants dropped |", rate, jitter,
                              measured, overflow);
            return false;
        }

        Array.Sort(ages, 0, measured);
        Array.Sort(ownErrors, 0, measured);
        Array.Sort(held, 0, total);
        int p99 = Math.Min(measured - 1, measured * 99 / 100);
        Console.WriteLine(string.Format(CultureInfo.InvariantCulture,
                                        "| {0} Hz | {1} ms | {2:F1} ms | {3:F1} ms | {4:F1} ms | {5} of {6} " +
                                        "({7:F1} %) | {8:F1} ms | {9:F1} ms | {10:F0} | {11:F0} us | {12:F0} us |",
                                        rate, jitter, ages[measured / 2] * 1e3, ages[p99] * 1e3,
                                        ages[measured - 1] * 1e3, empty, total, 100.0 * empty / total,
                                        held[Math.Min(total - 1, total * 99 / 100)] * 1e3, held[total - 1] * 1e3,
                                        (double)instants / total, ownErrors[measured / 2] * 1e6,
                                        ownErrors[p99] * 1e6));
        return true;
    }
}
