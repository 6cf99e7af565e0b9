// The C# binding under Mono, fed by vexa-sim on a pseudo-terminal, paced
// like a Unity game at 60 frames per second: the main thread takes what
// arrived once per frame, either as queued frames (the per-sample handler)
// or by ReadSamples (the sample ring). Prints, per case: samples/s delivered
// to C#, gen-0 collections, bytes allocated per second (main thread and loop
// thread), ticks lost (gaps in the ticks received) and dropped (by a full
// ring or frame queue), and the time of one frame's read.
//
//   mono UnityBench.exe VEXA_SIM SECONDS
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Runtime.InteropServices;
using System.Threading;
using Vexa;

internal static class UnityBench
{
    private const double FrameMs = 1000.0 / 60;

    private sealed class Result
    {
        public double SamplesPerSecond, TicksPerSecond, BytesPerSecond, MedianUs, P99Us, MaxUs;
        public double InstantsPerRead;
        public long Collections, Lost, Dropped;
    }

    private static int Main(string[] args)
    {
        if (args.Length < 2)
        {
            Console.Error.WriteLine("usage: UnityBench.exe VEXA_SIM SECONDS");
            return 2;
        }
        string sim = args[0];
        double seconds = double.Parse(args[1], System.Globalization.CultureInfo.InvariantCulture);
        // The library's log (the process's standard output) goes to
        // vexa_logs_file.txt; the figures keep a copy of the console.
        Console.Out.Flush();
        Console.SetOut(new Vexa.Tests.FdWriter(dup(1)));
        VexaDevice.OpenLogFile();

        VexaSource[] eight = { new VexaSource(1, 1, 16, 0xFF) };
        VexaSource[] sixtyFour = new VexaSource[8];
        for (int p = 0; p < 8; p++) sixtyFour[p] = new VexaSource(p, 1, 16, 0xFF);

        Console.WriteLine("{0,-23} {1,-7} {2,10} {3,10} {4,5} {5,11} {6,6} {7,7} {8,8} {9,9} {10,9} {11,9}", "case", "path",
                          "samples/s", "ticks/s", "gen0", "bytes/s", "lost", "dropped", "per read", "read med",
                          "read p99", "read max");
        Run(sim, "10000 Hz x 8 channels", 10000, eight, false, seconds);
        Run(sim, "10000 Hz x 8 channels", 10000, eight, true, seconds);
        Run(sim, "80000 Hz x 64 channels", 80000, sixtyFour, false, seconds);
        Run(sim, "80000 Hz x 64 channels", 80000, sixtyFour, true, seconds);
        VexaDevice.Shutdown();
        return 0;
    }

    [DllImport("libc")]
    private static extern int dup(int fd);

    private static void Run(string sim, string name, int rate, VexaSource[] sources, bool pull, double seconds)
    {
        using (Process simulator = StartSimulator(sim))
        {
            string path = simulator.StandardOutput.ReadLine().Trim();
            Result r = Measure(path, rate, sources, pull, seconds);
            Console.WriteLine("{0,-23} {1,-7} {2,10:F0} {3,10:F0} {4,5} {5,11:F0} {6,6} {7,7} {8,8:F0} {9,7:F0}us {10,7:F0}us " +
                              "{11,7:F0}us", name, pull ? "ring" : "handler", r.SamplesPerSecond, r.TicksPerSecond,
                              r.Collections, r.BytesPerSecond, r.Lost, r.Dropped, r.InstantsPerRead, r.MedianUs,
                              r.P99Us, r.MaxUs);
            simulator.StandardInput.Close();
            simulator.WaitForExit();
        }
    }

    private static Process StartSimulator(string sim)
    {
        ProcessStartInfo info = new ProcessStartInfo(sim, "--product 0x0205")
        {
            UseShellExecute = false,
            RedirectStandardInput = true,
            RedirectStandardOutput = true,
        };
        return Process.Start(info);
    }

    // Per case: connect, start, run the loop on a thread of the bench's own
    // (so that its allocations can be counted there), take one second to
    // settle, then measure for `seconds`.
    private static Result Measure(string path, int rate, VexaSource[] sources, bool pull, double seconds)
    {
        if (pull) VexaDevice.EnableSampleRing();
        else VexaDevice.DisableSampleRing();
        VexaDevice.ClearQueues();
        VexaDevice.Connect(path);

        // Everything the main thread reuses is made before the clock starts.
        int perRead = rate / 60 * 4;
        int[] ticks = new int[perRead];
        int[] samples = new int[perRead * 64];
        List<VexaFrame> frames = new List<VexaFrame>(perRead);
        List<VexaEvent> events = new List<VexaEvent>();
        double[] readUs = new double[1 << 16];
        long[] loopBytes = new long[2];
        ManualResetEvent measuring = new ManualResetEvent(false);
        Thread loop = new Thread(() =>
        {
            measuring.WaitOne();
            loopBytes[0] = GC.GetAllocatedBytesForCurrentThread();
            VexaDevice.RunLoop();
            loopBytes[1] = GC.GetAllocatedBytesForCurrentThread();
        });
        GC.Collect();
        GC.WaitForPendingFinalizers();

        VexaDevice.StartSources(rate, sources);
        int channels = pull ? VexaDevice.SampleRingChannels : 0;
        // The loop thread counts its allocations from the start of the loop,
        // which covers the warm-up second too: bytes/s is over both.
        loop.Start();
        measuring.Set();
        Stopwatch clock = Stopwatch.StartNew();
        Stopwatch read = new Stopwatch();
        long instants = 0, lost = 0, delivered = 0, checksum = 0, mainBefore = 0;
        int last = -1, reads = 0, gen0 = 0;
        double nextFrame = FrameMs, began = 0;
        bool warm = false;
        while (!warm || clock.Elapsed.TotalSeconds - began < seconds)
        {
            if (!warm && clock.Elapsed.TotalSeconds >= 1)
            {
                warm = true;
                began = clock.Elapsed.TotalSeconds;
                instants = delivered = lost = 0;
                reads = 0;
                gen0 = GC.CollectionCount(0);
                mainBefore = GC.GetAllocatedBytesForCurrentThread();
            }
            int n;
            do
            {
                if (pull)
                {
                    read.Restart();
                    n = VexaDevice.ReadSamples(ticks, samples);
                    read.Stop();
                    for (int i = 0; i < n; i++)
                    {
                        if (last >= 0 && ticks[i] != last + 1) lost += ticks[i] - last - 1;
                        last = ticks[i];
                        checksum += samples[i * channels];
                    }
                    delivered += (long)n * channels;
                }
                else
                {
                    frames.Clear();
                    read.Restart();
                    n = VexaDevice.DrainFrames(frames);
                    read.Stop();
                    for (int i = 0; i < n; i++)
                    {
                        VexaFrame f = frames[i];
                        if (last >= 0 && f.Tick != last + 1) lost += f.Tick - last - 1;
                        last = f.Tick;
                        checksum += f.Samples[0];
                        delivered += f.Samples.Length;
                    }
                }
                if (n > 0 && reads < readUs.Length) readUs[reads++] = read.Elapsed.TotalMilliseconds * 1000;
                instants += n;
            } while (pull && n == ticks.Length);
            events.Clear();
            VexaDevice.DrainEvents(events);
            double wait = nextFrame - clock.Elapsed.TotalMilliseconds;
            if (wait > 0) Thread.Sleep((int)Math.Ceiling(wait));
            nextFrame += FrameMs;
        }
        double elapsed = clock.Elapsed.TotalSeconds - began;
        long mainBytes = GC.GetAllocatedBytesForCurrentThread() - mainBefore;
        int collections = GC.CollectionCount(0) - gen0;
        double loopSeconds = clock.Elapsed.TotalSeconds;
        VexaDevice.Interrupt();
        loop.Join();
        VexaDevice.Stop();
        long dropped = pull ? VexaDevice.SampleRingOverflow : VexaDevice.DroppedFrames;
        VexaDevice.Disconnect();
        VexaDevice.DisableSampleRing();

        Array.Sort(readUs, 0, reads);
        Result r = new Result
        {
            SamplesPerSecond = delivered / elapsed,
            TicksPerSecond = instants / elapsed,
            Collections = collections,
            BytesPerSecond = mainBytes / elapsed + (loopBytes[1] - loopBytes[0]) / loopSeconds,
            Lost = lost,
            Dropped = dropped,
            InstantsPerRead = reads > 0 ? (double)instants / reads : 0,
        };
        if (reads > 0)
        {
            r.MedianUs = readUs[reads / 2];
            r.P99Us = readUs[Math.Min(reads - 1, reads * 99 / 100)];
            r.MaxUs = readUs[reads - 1];
        }
        if (checksum == 42) Console.Write("");  // keeps the reads from being optimised away
        return r;
    }
}
