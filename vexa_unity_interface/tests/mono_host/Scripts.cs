using System;
using System.Collections.Generic;
using Vexa;

// What Unity scripts do with the package, called by the embedding host
// (mono_host.c) inside a domain it later unloads or keeps. Each returns ""
// when all went as a user expects, else what went wrong.
public static class Scripts
{
    private const int DeadlineMs = 5000;
    // The simulated compact board connects at once; the default simulated
    // device ("SIM", used by the Play sessions) spends 1 s in the handshake.
    private const string QuickDevice = "SIM:quillbox";

    // A careless device script: connects, acquires (through the ring, or
    // frame by frame), logs, and leaves everything running for the domain's
    // unload to clean up.
    public static string Careless(int ring)
    {
        VexaLog.SetHandler((level, text) => { }, VexaLog.Debug);
        VexaDevice.Connect(QuickDevice);
        if (ring != 0) VexaDevice.EnableSampleRing();
        VexaDevice.StartMask(1000, 0x5, 16);
        VexaDevice.StartLoopThread();
        int[] ticks = new int[64];
        int[] samples = new int[64 * 2];
        var frames = new List<VexaFrame>();
        int read = 0;
        int deadline = Environment.TickCount + DeadlineMs;
        while (read < 100 && Environment.TickCount - deadline < 0)
        {
            read += ring != 0 ? VexaDevice.ReadSamples(ticks, samples) : VexaDevice.DrainFrames(frames);
        }
        return read >= 100 ? "" : "got " + read + " instants in " + DeadlineMs + " ms";
    }

    // A script that acquires from a session of its own and leaves it open
    // and running for the domain's unload to close (its loop thread and
    // link would otherwise outlive the domain).
    public static string SessionLeftOpen()
    {
        VexaSession session = VexaSession.Open(QuickDevice);
        session.Start(1000, 0x3, 16);
        session.Run();
        long[] ticks = new long[64];
        int[] samples = new int[64 * 2];
        int read = 0, channels, acquisition;
        int deadline = Environment.TickCount + DeadlineMs;
        while (read < 100 && Environment.TickCount - deadline < 0)
        {
            read += session.Read(ticks, null, samples, out channels, out acquisition);
        }
        return read >= 100 ? "" : "the session gave " + read + " instants in " + DeadlineMs + " ms";
    }

    // A script that only routes the library's log to the console.
    public static string LogOnly()
    {
        VexaLog.SetHandler((level, text) => Console.Error.WriteLine("log: " + text), VexaLog.Error);
        return "";
    }

    // One Play session with domain reload off: statics stay from the last
    // session, which ended with Shutdown (OnApplicationQuit). Acquires
    // `channels` channels per frame on the per-sample path with a queue so
    // short that frames are dropped, then ends with Shutdown with frames
    // still queued. Frames or a drop count left by an earlier session with
    // another channel count show as stale.
    public static string PlaySession(int channels)
    {
        if (VexaDevice.DroppedFrames != 0) return "DroppedFrames carried over: " + VexaDevice.DroppedFrames;
        VexaDevice.MaxQueuedFrames = 50;
        VexaDevice.Connect("SIM");
        VexaDevice.StartMask(1000, (1 << channels) - 1, 16);
        VexaDevice.StartLoopThread();
        var frames = new List<VexaFrame>();
        string failure = "";
        if (!VexaDevice.WaitForData(DeadlineMs)) failure = "no frame in " + DeadlineMs + " ms";
        VexaDevice.DrainFrames(frames);
        foreach (VexaFrame frame in frames)
        {
            if (frame.Samples.Length != channels)
            {
                failure = "the first drain holds a frame of " + frame.Samples.Length + " channels, stale";
                break;
            }
        }
        int deadline = Environment.TickCount + DeadlineMs;
        while (VexaDevice.DroppedFrames == 0 && Environment.TickCount - deadline < 0) VexaDevice.WaitForData(10);
        if (failure == "" && VexaDevice.DroppedFrames == 0) failure = "the short queue dropped nothing";
        VexaDevice.Shutdown();
        return failure;
    }
}
