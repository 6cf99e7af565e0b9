using System;
using System.Collections.Generic;

namespace Vexa.Tests
{
    internal static class FailureTests
    {
        private const string UnsupportedType =
            "C++ Exception at line number 940 in file vexa_unity_interface.cpp (v20220517): " +
            "The type of input provided is not currently supported.\n";

        internal static void Register(TestRunner runner)
        {
            runner.Add("device exports without a device report their own codes and lines", NoDevice);
            runner.Add("the loop without a device queues failure 21 with the bare description", LoopWithoutDevice);
            runner.Add("SetParameter writes supported types and refuses others with code 40", SetParameterTypes);
            runner.Add("refused starts report the start's own code", RefusedStarts);
            runner.Add("the wrapper refuses bad arguments before the library reads them", BadArguments);
        }

        private static void NoDevice()
        {
            Expect(14, 548, () => VexaDevice.StartChannels(1000, "1", 16), "StartChannels");
            Expect(6, 443, () => VexaDevice.StartMask(1000, 1, 16), "StartMask");
            Expect(10, 486, () => VexaDevice.StartSources(1000, new[] { new VexaSource(1, 1, 16, 1) }),
                   "StartSources");
            Expect(18, 596, () => VexaDevice.StartStrandelo(1000, 16, 250), "StartStrandelo");
            Expect(31, 797, () => { int unused = VexaDevice.ProductId; }, "ProductId");
            Expect(35, 868, () => { string unused = VexaDevice.DeviceType; }, "DeviceType");
            Expect(39, 934, () => VexaDevice.SetParameter(1, 1, new[] { 1 }, 1), "SetParameter");

            // The exports without a report answer safely.
            Check.Equal(-1, VexaDevice.Battery, "battery");
            Check.Equal(0, VexaDevice.ChannelCount, "channels");
            Check.Equal(false, VexaDevice.CommunicationFlag, "flag");
            Check.True(VexaDevice.Interrupt(), "interrupt with no loop");
            VexaDevice.Stop();
            VexaDevice.Disconnect();
            List<VexaEvent> events = new List<VexaEvent>();
            Check.Equal(0, VexaDevice.DrainEvents(events), "nothing queued: " + string.Join(", ", events));
        }

        private static void Expect(int code, int line, Action call, string what)
        {
            VexaException e = Check.Reports(code, call, what);
            string prefix = "VEXA Error Exception at line number " + line +
                            " in file vexa_unity_interface.cpp (v20220517): ";
            Check.True(e.Message.StartsWith(prefix, StringComparison.Ordinal), what + " report: " + e.Message);
        }

        private static void LoopWithoutDevice()
        {
            VexaDevice.RunLoop();  // returns at once
            List<VexaEvent> events = new List<VexaEvent>();
            VexaDevice.DrainEvents(events);
            Check.Equal(1, events.Count, "one event: " + string.Join(", ", events));
            Check.Equal(VexaEventKind.Failure, events[0].Kind, "kind");
            Check.Equal(21, events[0].Code, "code");
            Check.True(events[0].Message.Length > 0 && !events[0].Message.StartsWith("VEXA"),
                       "bare description: " + events[0].Message);
            Check.True(!VexaDevice.IsLooping, "loop ended");
        }

        private static void SetParameterTypes()
        {
            using (Simulator sim = new Simulator())
            {
                VexaDevice.Connect(sim.Path);
                VexaDevice.SetParameter(9, 3, new[] { 80, 40 }, 2);
                VexaDevice.SetParameter(1, 1, new[] { 0x2A5B }, 1);
                VexaDevice.SetParameter(2, 2, new[] { 7 }, 1);

                int[][] refused = { new[] { 4, 1 }, new[] { 2, 2 }, new[] { 1, 3 }, new[] { 3, 0 } };
                foreach (int[] indexAndType in refused)
                {
                    string what = "index " + indexAndType[0] + ", type " + indexAndType[1];
                    VexaException e = Check.Reports(
                        40, () => VexaDevice.SetParameter(1, indexAndType[0], new[] { 1, 2 }, indexAndType[1]), what);
                    Check.Equal(UnsupportedType, e.Message, what + " message");
                }
            }
        }

        private static void RefusedStarts()
        {
            using (Simulator sim = new Simulator())
            {
                VexaDevice.Connect(sim.Path);
                Check.Reports(18, () => VexaDevice.StartStrandelo(1000, 16, 0), "channel frequency 0");
                Check.Reports(14, () => VexaDevice.StartChannels(1000, "", 16), "no channel marked");
                Check.Reports(6, () => VexaDevice.StartMask(0, 1, 16), "base frequency 0");
                // 24-bit samples need a product that takes them; 0x0201 with
                // firmware 0x0304 does not.
                Check.Reports(10, () => VexaDevice.StartSources(1000, new[] { new VexaSource(1, 1, 24, 1) }),
                              "24-bit source");
                Check.Reports(10, () => VexaDevice.StartSources(1000, new VexaSource[0]), "no source");
                Check.Equal(0, VexaDevice.ChannelCount, "nothing started");

                VexaDevice.StartChannels(1000, "1", 16);
                Check.Reports(14, () => VexaDevice.StartChannels(1000, "1", 16), "start while acquiring");
                Check.Equal(1, VexaDevice.ChannelCount, "the first start still runs");
                VexaDevice.Stop();
                Check.Equal(0, VexaDevice.ChannelCount, "stopped");
            }
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
    }
}
