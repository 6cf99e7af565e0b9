using System.Collections.Generic;
using System.Threading;

namespace Vexa.Tests
{
    // Runs the loop on a worker thread, as a Unity script would, and collects
    // what it queues on the test's thread.
    internal sealed class Acquisition
    {
        private readonly Thread loop = VexaDevice.StartLoopThread();
        internal readonly List<VexaFrame> Frames = new List<VexaFrame>();
        internal readonly List<VexaEvent> Events = new List<VexaEvent>();

        internal static Acquisition StartLoop()
        {
            return new Acquisition();
        }

        // Drains until at least `count` frames have arrived in all.
        internal void WaitForFrames(int count)
        {
            Check.Await(() => Drain() >= count, VexaDevice.WaitForData,
                        () => "only " + Frames.Count + " of " + count + " frames arrived; events: " +
                              string.Join(", ", Events));
        }

        // Drains until an event arrives; returns it.
        internal VexaEvent WaitForEvent()
        {
            int seen = Events.Count;
            Check.Await(() => Drain() >= 0 && Events.Count > seen, VexaDevice.WaitForData, () => "no event arrived");
            return Events[seen];
        }

        // Interrupts from this thread and waits for the loop thread to end.
        internal void Interrupt()
        {
            Check.True(VexaDevice.Interrupt(), "Interrupt ended the loop");
            Join();
        }

        internal void Join()
        {
            Check.True(loop.Join(Check.DeadlineMs), "the loop thread ended");
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
