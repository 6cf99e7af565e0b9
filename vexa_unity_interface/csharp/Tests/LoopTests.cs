using System;
using System.Collections.Generic;

namespace Vexa.Tests
{
    // How the loop ends, resumes and restarts, and what the wrapper keeps
    // away from it while it runs.
    internal static class LoopTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("an interrupted loop resumes at the next tick; a restart begins at tick 0", ResumeAndRestart);
            runner.Add("Interrupt wakes a loop that has no acquisition", InterruptIdleLoop);
            runner.Add("a loop with no data ends after 2 s with disconnect reason 1", LoopTimesOut);
            runner.Add("a device that goes away ends the loop with failure 21", DeviceGoesAway);
            runner.Add("device calls wait for the loop; Disconnect ends it first", GuardsAgainstRunningLoop);
        }

        private static void ResumeAndRestart()
        {
            VexaSource[] first = { new VexaSource(2, 1, 16, 0x5) };
            VexaSource[] second = { new VexaSource(1, 2, 8, 1), new VexaSource(3, 1, 16, 1) };
            using (Simulator sim = new Simulator())
            {
                VexaDevice.Connect(sim.Path);
                VexaDevice.StartSources(1000, first);
                Acquisition one = Acquisition.StartLoop();
                one.WaitForFrames(60);
                one.Interrupt();
                SamplePattern.CheckFrames(one.Frames, first, 0);

                // Same acquisition: the frame that woke the interrupt is not lost.
                Acquisition two = Acquisition.StartLoop();
                two.WaitForFrames(60);
                two.Interrupt();
                SamplePattern.CheckFrames(two.Frames, first, one.Frames.Count);

                // Frames of the stopped acquisition must not leak into the next.
                VexaDevice.Stop();
                VexaDevice.StartSources(1000, second);
                Acquisition three = Acquisition.StartLoop();
                three.WaitForFrames(60);
                three.Interrupt();
                SamplePattern.CheckFrames(three.Frames, second, 0);
                VexaDevice.Stop();
            }
        }

        private static void InterruptIdleLoop()
        {
            using (Simulator sim = new Simulator())
            {
                VexaDevice.Connect(sim.Path);
                Acquisition acquisition = Acquisition.StartLoop();
                acquisition.Interrupt();
                // A lost interrupt would have let the 2 s time-out end the
                // loop, which queues a disconnect.
                Check.Equal(0, acquisition.Events.Count, "no event: " + string.Join(", ", acquisition.Events));
                Check.Equal(0, acquisition.Frames.Count, "no frame");
                Check.Equal("tessarimodular", VexaDevice.DeviceType, "device still answers");
            }
        }

        private static void LoopTimesOut()
        {
            using (Simulator sim = new Simulator())
            {
                VexaDevice.Connect(sim.Path);
                Acquisition acquisition = Acquisition.StartLoop();
                VexaEvent ev = acquisition.WaitForEvent();
                Check.Equal(VexaEventKind.Disconnect, ev.Kind, "event " + ev);
                Check.Equal(1, ev.Reason, "time-out reason");
                acquisition.Join();
                Check.True(!VexaDevice.IsLooping, "loop ended by itself");
            }
        }

        private static void DeviceGoesAway()
        {
            using (Simulator sim = new Simulator())
            {
                VexaDevice.Connect(sim.Path);
                VexaDevice.StartMask(1000, 1, 16);
                Acquisition acquisition = Acquisition.StartLoop();
                acquisition.WaitForFrames(20);
                sim.Close();
                VexaEvent ev = acquisition.WaitForEvent();
                Check.Equal(VexaEventKind.Failure, ev.Kind, "event " + ev);
                Check.Equal(21, ev.Code, "loop failure code");
                Check.Equal("The communication with the device was lost.", ev.Message, "bare description");
                acquisition.Join();
                SamplePattern.CheckFrames(acquisition.Frames, new[] { new VexaSource(1, 1, 16, 1) }, 0);
            }
        }

        private static void GuardsAgainstRunningLoop()
        {
            using (Simulator sim = new Simulator())
            {
                VexaDevice.Connect(sim.Path);
                VexaDevice.StartMask(1000, 1, 16);
                Acquisition acquisition = Acquisition.StartLoop();
                acquisition.WaitForFrames(10);
                Check.Throws<InvalidOperationException>(() => { int unused = VexaDevice.Battery; }, "battery");
                Check.Throws<InvalidOperationException>(() => VexaDevice.StartMask(1000, 2, 16), "second start");
                Check.Throws<InvalidOperationException>(() => VexaDevice.SetParameter(1, 1, new[] { 1 }, 1),
                                                        "parameter");
                Check.Throws<InvalidOperationException>(VexaDevice.RunLoop, "second loop");
                Check.Equal(1, VexaDevice.ChannelCount, "reading the channel count is fine");

                VexaDevice.Disconnect();
                Check.True(!VexaDevice.IsConnected, "disconnected");
                acquisition.Join();
                Check.Equal(0, acquisition.Events.Count, "no event: " + string.Join(", ", acquisition.Events));
            }
        }
    }
}
