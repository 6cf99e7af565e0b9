using System;
using System.Collections.Generic;

namespace Vexa.Tests
{
    // The binding's own part of each export: arguments it checks, reports
    // turned into exceptions, events queued from the handlers, calls kept
    // away from a running loop.
    internal static class ExportTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("connect reads the device; a failed connect keeps it and names its cause", Connect);
            runner.Add("without a device: loop calls return and the loop's failure 21 is queued", NoDevice);
            runner.Add("the wrapper refuses bad arguments before the library reads them", BadArguments);
            runner.Add("the On exports reach the registered handlers unchanged", Forwarders);
            runner.Add("device calls wait for the loop; Disconnect ends it first", GuardsAgainstRunningLoop);
        }

        private static void Connect()
        {
            VexaDevice.Connect("SIM:current --description FernlitVexa --product 0x0205");
            Check.True(VexaDevice.IsConnected, "connected");
            Check.Equal("FernlitVexa 517 96", VexaDevice.DeviceType + " " + VexaDevice.ProductId + " " +
                                              VexaDevice.Battery, "type, product, battery");

            VexaException e = Check.Reports(1, () => VexaDevice.Connect("COM/dev/nonexistent"), "missing port");
            Check.True(e.Message.StartsWith("VEXA Notification Exception at line number 384 in file " +
                                            "vexa_unity_interface.cpp (v20220517): ") && e.Message.EndsWith("\n"),
                       "notification report: " + e.Message);
            Check.Equal("open /dev/nonexistent: No such file or directory (errno 2)", e.Detail, "the cause");
            Check.Equal("FernlitVexa", VexaDevice.DeviceType, "the earlier device stays");

            VexaDevice.Disconnect();
            VexaException other = Check.Reports(31, () => { int unused = VexaDevice.ProductId; },
                                                "product after disconnect");
            Check.Equal("", other.Detail, "a failure without a cause has no stale one");
            Check.True(VexaLog.Version.Split('.').Length == 3, "version: " + VexaLog.Version);
        }

        private static void NoDevice()
        {
            Check.True(VexaDevice.Interrupt(), "interrupt with no loop");
            VexaDevice.Stop();
            VexaDevice.Disconnect();
            VexaDevice.RunLoop();  // returns at once
            List<VexaEvent> events = new List<VexaEvent>();
            VexaDevice.DrainEvents(events);
            Check.Equal("Failure(21, The object instance is invalid.)", string.Join(", ", events), "queued");
            Check.True(!VexaDevice.IsLooping, "loop ended");
        }

        private static void BadArguments()
        {
            Check.Throws<ArgumentNullException>(() => VexaDevice.Connect(null), "null path");
            Check.Throws<ArgumentNullException>(() => VexaDevice.StartChannels(1000, null, 16), "null channels");
            Check.Throws<ArgumentNullException>(() => VexaDevice.StartSources(1000, null), "null sources");
            Check.Throws<ArgumentNullException>(() => VexaDevice.SetParameter(1, 3, null, 2), "null data");
            Check.Throws<ArgumentException>(() => VexaDevice.SetParameter(1, 3, new[] { 80 }, 2),
                                            "type 2 with one value");
            Check.Throws<ArgumentException>(() => VexaDevice.SetParameter(1, 1, new int[0], 1),
                                            "type 1 with no value");
            Check.Throws<ArgumentNullException>(() => VexaDevice.Scan(null), "null domain");
            Check.Throws<ArgumentOutOfRangeException>(() => VexaDevice.MaxQueuedFrames = 0, "no room for frames");
        }

        // After a scan, as before it: found devices are queued as events.
        private static void Forwarders()
        {
            VexaDevice.Initialize();
            Check.Reports(27, () => VexaDevice.Scan("XYZ"), "unknown domain");
            VexaNative.OnDigInEventDetected(1, 2, 3, true);
            VexaNative.OnDigInEventDetected(-4, 5, 0, false);
            VexaNative.OnDisconnectEventDetected(5);
            VexaNative.OnExceptionRaised(7, "100% lost\n");
            VexaNative.OnNewDeviceFound("BTH00:11:22:33:44:55");

            List<VexaEvent> events = new List<VexaEvent>();
            VexaDevice.DrainEvents(events);
            Check.Equal("DigitalInput(1, 2, 3, True) DigitalInput(-4, 5, 0, False) Disconnect(reason 5) " +
                        "Failure(7, 100% lost\n) DeviceFound(BTH00:11:22:33:44:55)", string.Join(" ", events), "events");
        }

        private static void GuardsAgainstRunningLoop()
        {
            VexaDevice.Connect("SIM");
            VexaDevice.StartMask(1000, 1, 16);
            Acquisition acquisition = new Acquisition();
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
            Check.Equal(0, acquisition.Events.Count, "events: " + string.Join(", ", acquisition.Events));
        }
    }
}
