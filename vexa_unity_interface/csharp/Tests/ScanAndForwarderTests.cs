using System.Collections.Generic;

namespace Vexa.Tests
{
    internal static class ScanAndForwarderTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("scans report a missing adapter or driver with the scan's codes", Scans);
            runner.Add("the On exports reach the registered handlers unchanged", Forwarders);
        }

        private static void Scans()
        {
            Check.Reports(26, () => VexaDevice.Scan("ble"), "BLE without an adapter");
            Check.Reports(27, () => VexaDevice.Scan("XYZ"), "unknown domain");
            Check.Equal(0, VexaDevice.ScanAll().Count, "ScanAll skips what is missing");
            List<VexaEvent> events = new List<VexaEvent>();
            VexaDevice.DrainEvents(events);
            Check.NoEvents(events, "nothing queued");
        }

        private static void Forwarders()
        {
            VexaDevice.Initialize();
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
    }
}
