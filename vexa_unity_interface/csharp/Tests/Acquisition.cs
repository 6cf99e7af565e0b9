using System;
using System.Collections.Generic;
using System.Threading;

namespace Vexa.Tests
{
    // Runs the loop on a worker thread, as a Unity script would, and collects
    // what it queues on the test's thread.
    internal sealed class Acquisition
    {
        private const int DataTimeoutMs = 5000;
        private const int JoinTimeoutMs = 5000;

        private readonly Thread loop;
        internal readonly List<VexaFrame> Frames = new List<VexaFrame>();
        internal readonly List<VexaEvent> Events = new List<VexaEvent>();

        private Acquisition()
        {
            loop = VexaDevice.StartLoopThread();
        }

        internal static Acquisition StartLoop()
        {
            return new Acquisition();
        }

        // Drains until at least `count` frames have arrived in all.
        internal void WaitForFrames(int count)
        {
            int deadline = Environment.TickCount + DataTimeoutMs;
            while (Drain() < count)
            {
                int left = deadline - Environment.TickCount;
                if (left <= 0 || !VexaDevice.WaitForData(left))
                {
                    throw new CheckFailed("only " + Frames.Count + " of " + count + " frames arrived; events: " +
                                          string.Join(", ", Events));
                }
            }
        }

        // Drains until an event arrives; returns it.
        internal VexaEvent WaitForEvent()
        {
            int deadline = Environment.TickCount + DataTimeoutMs;
            int seen = Events.Count;
            while (true)
            {
                Drain();
                if (Events.Count > seen) return Events[seen];
                int left = deadline - Environment.TickCount;
                if (left <= 0 || !VexaDevice.WaitForData(left)) throw new CheckFailed("no event arrived");
            }
        }

        // Interrupts from this thread and waits for the loop thread to end.
        internal void Interrupt()
        {
            Check.True(VexaDevice.Interrupt(), "Interrupt ended the loop");
            Join();
        }

        internal void Join()
        {
            Check.True(loop.Join(JoinTimeoutMs), "the loop thread ended");
            Drain();
        }

        private int Drain()
        {
            VexaDevice.DrainFrames(Frames);
            VexaDevice.DrainEvents(Events);
            return Frames.Count;
        }
    }
}
