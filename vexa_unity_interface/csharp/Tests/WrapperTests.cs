using System;
using System.Collections.Generic;
using System.Threading;

namespace Vexa.Tests
{
    // The wrapper's own promises: a bounded queue that says what it dropped,
    // and a shutdown that leaves the library nothing to call.
    internal static class WrapperTests
    {
        private const int DeadlineMs = 5000;

        internal static void Register(TestRunner runner)
        {
            runner.Add("a full frame queue keeps the oldest frames and counts the rest", FullQueue);
            runner.Add("Shutdown ends the loop, disconnects and detaches the handlers", Shutdown);
        }

        private static void FullQueue()
        {
            VexaSource[] sources = { new VexaSource(1, 1, 16, 1) };
            int saved = VexaDevice.MaxQueuedFrames;
            try
            {
                VexaDevice.MaxQueuedFrames = 50;
                using (Simulator sim = new Simulator())
                {
                    VexaDevice.Connect(sim.Path);
                    VexaDevice.StartSources(1000, sources);
                    Thread loop = VexaDevice.StartLoopThread();
                    // Nothing signals a drop: poll the count itself.
                    int deadline = Environment.TickCount + DeadlineMs;
                    while (VexaDevice.DroppedFrames == 0)
                    {
                        Check.True(deadline - Environment.TickCount > 0, "frames were dropped");
                        Thread.Sleep(1);
                    }
                    Check.True(VexaDevice.Interrupt(), "interrupted");
                    Check.True(loop.Join(DeadlineMs), "loop thread ended");

                    List<VexaFrame> frames = new List<VexaFrame>();
                    Check.Equal(50, VexaDevice.DrainFrames(frames), "frames kept");
                    SamplePattern.CheckFrames(frames, sources, 0);
                    Check.True(VexaDevice.DroppedFrames > 0, "drops still counted after draining");
                    VexaDevice.ClearQueues();
                    Check.Equal(0L, VexaDevice.DroppedFrames, "count cleared");
                }
            }
            finally
            {
                VexaDevice.MaxQueuedFrames = saved;
            }
        }

        private static void Shutdown()
        {
            using (Simulator sim = new Simulator())
            {
                VexaDevice.Connect(sim.Path);
                VexaDevice.StartMask(1000, 1, 16);
                Thread loop = VexaDevice.StartLoopThread();
                Check.True(VexaDevice.WaitForData(DeadlineMs), "frames arrive");

                VexaDevice.Shutdown();
                Check.True(loop.Join(DeadlineMs), "loop thread ended");
                Check.True(!VexaDevice.IsConnected, "disconnected");
                VexaDevice.ClearQueues();
                VexaNative.OnDisconnectEventDetected(3);
                VexaNative.OnExceptionRaised(4, "detached");
                List<VexaEvent> events = new List<VexaEvent>();
                Check.Equal(0, VexaDevice.DrainEvents(events), "nothing reached the binding: " +
                                                               string.Join(", ", events));

                // The next use registers them again.
                VexaDevice.Initialize();
                VexaNative.OnDisconnectEventDetected(3);
                Check.Equal(1, VexaDevice.DrainEvents(events), "registered again");
            }
        }
    }
}
