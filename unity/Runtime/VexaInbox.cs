using System.Collections.Generic;
using System.Threading;

namespace Vexa
{
    // Frames and events on their way from the loop thread to whoever drains
    // them (Unity's main thread). Filled inside native callbacks, so adding
    // never blocks for long and never throws.
    internal static class VexaInbox
    {
        private static readonly object Gate = new object();
        private static List<VexaFrame> frames = new List<VexaFrame>();
        private static List<VexaEvent> events = new List<VexaEvent>();
        private static int maxFrames = 1 << 18;
        private static long droppedFrames;

        internal static int MaxFrames
        {
            get { lock (Gate) return maxFrames; }
            set { lock (Gate) maxFrames = value; }
        }

        internal static long DroppedFrames
        {
            get { lock (Gate) return droppedFrames; }
        }

        internal static void AddFrame(VexaFrame frame)
        {
            lock (Gate)
            {
                // A consumer that stopped draining must not eat all memory;
                // the loss is counted, never silent.
                if (frames.Count >= maxFrames)
                {
                    droppedFrames++;
                    return;
                }
                frames.Add(frame);
                Monitor.PulseAll(Gate);
            }
        }

        internal static void AddEvent(VexaEvent ev)
        {
            lock (Gate)
            {
                events.Add(ev);
                Monitor.PulseAll(Gate);
            }
        }

        // Moves everything queued into `into`, oldest first; returns how many.
        internal static int DrainFrames(List<VexaFrame> into)
        {
            List<VexaFrame> taken;
            lock (Gate)
            {
                if (frames.Count == 0) return 0;
                taken = frames;
                frames = new List<VexaFrame>(taken.Count);
            }
            into.AddRange(taken);
            return taken.Count;
        }

        internal static int DrainEvents(List<VexaEvent> into)
        {
            List<VexaEvent> taken;
            lock (Gate)
            {
                if (events.Count == 0) return 0;
                taken = events;
                events = new List<VexaEvent>();
            }
            into.AddRange(taken);
            return taken.Count;
        }

        // Waits until something is queued or the time is up.
        internal static bool WaitForData(int timeoutMs)
        {
            lock (Gate)
            {
                int deadline = System.Environment.TickCount + timeoutMs;
                while (frames.Count == 0 && events.Count == 0)
                {
                    int left = timeoutMs < 0 ? Timeout.Infinite : deadline - System.Environment.TickCount;
                    if (timeoutMs >= 0 && left <= 0) return false;
                    Monitor.Wait(Gate, left);
                }
                return true;
            }
        }

        internal static void Clear()
        {
            lock (Gate)
            {
                frames.Clear();
                events.Clear();
                droppedFrames = 0;
            }
        }
    }
}
