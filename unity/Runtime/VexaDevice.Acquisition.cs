using System;
using System.Threading;

namespace Vexa
{
    // Starting, running and ending an acquisition. A start is followed by
    // RunLoop on a worker thread; Interrupt (from any other thread) ends the
    // loop, then Stop ends the acquisition.
    public static partial class VexaDevice
    {
        // channels: one character per port from port 1; "1" acquires it.
        public static void StartChannels(int baseFreq, string channels, int nBits)
        {
            if (channels == null) throw new ArgumentNullException("channels");
            VexaLoop.RequireStopped("A start");
            VexaCallbacks.Call(() => VexaNative.StartAcquisition(baseFreq, channels, nBits));
        }

        // Bit b of channelMask acquires channel 1 of port b + 1.
        public static void StartMask(int baseFreq, int channelMask, int nBits)
        {
            VexaLoop.RequireStopped("A start");
            VexaCallbacks.Call(() => VexaNative.StartAcquisitionByNbr(baseFreq, channelMask, nBits));
        }

        public static void StartSources(int baseFreq, VexaSource[] sources)
        {
            if (sources == null) throw new ArgumentNullException("sources");
            VexaLoop.RequireStopped("A start");
            VexaSource[] copy = (VexaSource[])sources.Clone();
            VexaCallbacks.Call(() => VexaNative.StartAcquisitionBySources(baseFreq, copy, copy.Length));
        }

        // Channel 1 of port 1, sampled at channelFreq (baseFreq / channelFreq
        // must be a whole divisor; the library truncates it).
        public static void StartStrandelo(int baseFreq, int nBits, int channelFreq)
        {
            VexaLoop.RequireStopped("A start");
            VexaCallbacks.Call(() => VexaNative.StartAcquisitionStrandelo(baseFreq, 0, nBits, channelFreq));
        }

        // Blocks until the loop ends: after Interrupt, a disconnect, 2 s
        // without data, or a failure (queued as a Failure event). Frames and
        // events are queued from this thread as they arrive.
        public static void RunLoop()
        {
            VexaLoop.Run();
        }

        // Runs the loop on a new background thread and returns that thread;
        // Interrupt may follow at once.
        public static Thread StartLoopThread()
        {
            return VexaLoop.StartThread();
        }

        public static bool IsLooping
        {
            get { return VexaLoop.Running; }
        }

        // Ends a running loop; true once it has returned, false if it still
        // ran after timeoutMs (negative: no limit). Does nothing if no loop
        // runs. Must not be called on the loop's own thread.
        public static bool Interrupt(int timeoutMs = LoopEndTimeoutMs)
        {
            return VexaLoop.Interrupt(timeoutMs);
        }

        // Waits for a loop to end by itself; true if none runs by then.
        public static bool WaitForLoopEnd(int timeoutMs)
        {
            return VexaLoop.WaitUntilEnded(timeoutMs);
        }

        // Ends the acquisition (and a loop still running, first). Stopping
        // when nothing runs does nothing.
        public static void Stop()
        {
            VexaLoop.EndBefore("Stop", LoopEndTimeoutMs);
            VexaNative.StopAcquisition();
        }
    }
}
