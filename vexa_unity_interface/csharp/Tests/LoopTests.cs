using System;

namespace Vexa.Tests
{
    // What the binding keeps away from the device while its loop runs.
    internal static class LoopTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("device calls wait for the loop; Disconnect ends it first", GuardsAgainstRunningLoop);
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
