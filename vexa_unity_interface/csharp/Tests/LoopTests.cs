using System;

namespace Vexa.Tests
{
    // How the binding's loop thread ends, and what it keeps away from the
    // device while it runs.
    internal static class LoopTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("Interrupt wakes a loop that has no acquisition", InterruptIdleLoop);
            runner.Add("device calls wait for the loop; Disconnect ends it first", GuardsAgainstRunningLoop);
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
                Check.NoEvents(acquisition.Events, "no event");
                Check.Equal(0, acquisition.Frames.Count, "no frame");
                Check.Equal("tessarimodular", VexaDevice.DeviceType, "device still answers");
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
                Check.NoEvents(acquisition.Events, "no event");
            }
        }
    }
}
