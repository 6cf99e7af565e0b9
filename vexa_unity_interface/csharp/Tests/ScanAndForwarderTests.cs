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
            Check.Equal(5, events.Count, "events: " + string.Join(", ", events));
            CheckDigIn(events[0], 1, 2, 3, true);
            CheckDigIn(events[1], -4, 5, 0, false);
            Check.Equal(VexaEventKind.Disconnect, events[2].Kind, "disconnect kind");
            Check.Equal(5, events[2].Reason, "disconnect reason");
            Check.Equal(VexaEventKind.Failure, events[3].Kind, "failure kind");
            Check.Equal(7, events[3].Code, "failure code");
            Check.Equal("100% lost\n", events[3].Message, "failure text, percent sign kept");
            Check.Equal(VexaEventKind.DeviceFound, events[4].Kind, "device kind");
            Check.Equal("BTH00:11:22:33:44:55", events[4].Path, "device path");
        }

        private static void CheckDigIn(VexaEvent ev, int clockSource, int clockValue, int input, bool state)
        {
            Check.Equal(VexaEventKind.DigitalInput, ev.Kind, "digital input kind");
            Check.Equal(clockSource, ev.ClockSource, "clock source");
            Check.Equal(clockValue, ev.ClockValue, "clock value");
            Check.Equal(input, ev.Input, "input");
            Check.Equal(state, ev.State, "state");
        }
    }
}
