using System;
using System.Threading;

namespace Vexa
{
    // Whether StartLoop runs, and how to end it. The library drops an
    // interrupt that arrives while its loop is not waiting for data (not yet
    // entered, or busy with a frame), so Interrupt repeats it until the loop
    // has actually returned.
    internal static class VexaLoop
    {
        private const int RetryMs = 10;

        private static readonly object Gate = new object();
        private static readonly ManualResetEvent Idle = new ManualResetEvent(true);
        private static volatile bool running;

        internal static bool Running
        {
            get { return running; }
        }

        internal static void Run()
        {
            Claim();
            RunClaimed();
        }

        // Claims the loop on this thread and runs it on a new background
        // thread, so that an Interrupt right after this returns is not lost.
        internal static Thread StartThread()
        {
            Claim();
            try
            {
                Thread thread = new Thread(RunClaimed) { IsBackground = true, Name = "Vexa loop" };
                thread.Start();
                return thread;
            }
            catch
            {
                Release();
                throw;
            }
        }

        private static void Claim()
        {
            VexaCallbacks.EnsureRegistered();
            lock (Gate)
            {
                if (running) throw new InvalidOperationException("The acquisition loop already runs.");
                // Reset before raising the flag: whoever sees it raised waits
                // on an event that only the end of this loop sets.
                Idle.Reset();
                running = true;
            }
        }

        private static void RunClaimed()
        {
            try
            {
                VexaNative.StartLoop();
            }
            finally
            {
                Release();
            }
        }

        private static void Release()
        {
            running = false;
            Idle.Set();
        }

        // True once no loop runs; false if it still ran when the time was up.
        // A negative time-out waits as long as it takes.
        internal static bool Interrupt(int timeoutMs)
        {
            int deadline = Environment.TickCount + timeoutMs;
            while (running)
            {
                VexaNative.InterruptAcquisition();
                int left = timeoutMs < 0 ? RetryMs : deadline - Environment.TickCount;
                if (left <= 0) return !running;
                if (Idle.WaitOne(Math.Min(left, RetryMs))) return true;
            }
            return true;
        }

        // Waits for the loop to end on its own (time-out, disconnect).
        internal static bool WaitUntilEnded(int timeoutMs)
        {
            return Idle.WaitOne(timeoutMs);
        }

        // Ends a running loop before an operation that must not overlap it.
        internal static void EndBefore(string operation, int timeoutMs)
        {
            if (!Interrupt(timeoutMs))
            {
                throw new InvalidOperationException("The acquisition loop did not end, so " + operation +
                                                    " cannot run safely.");
            }
        }

        internal static void RequireStopped(string operation)
        {
            if (running)
            {
                throw new InvalidOperationException(operation + " talks to the device, which the running loop " +
                                                    "reads: call Interrupt first.");
            }
        }
    }
}
