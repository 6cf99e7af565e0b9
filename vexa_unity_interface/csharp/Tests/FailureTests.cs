using System;
using System.Collections.Generic;

namespace Vexa.Tests
{
    internal static class FailureTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("without a device: reports, safe answers, and failure 21 queued by the loop", NoDevice);
            runner.Add("refusals report the export's own code", Refusals);
            runner.Add("the wrapper refuses bad arguments before the library reads them", BadArguments);
        }

        private static void NoDevice()
        {
            VexaException e = Check.Reports(14, () => VexaDevice.StartChannels(1000, "1", 16), "StartChannels");
            Check.True(e.Message.StartsWith("VEXA Error Exception at line number 548 in file " +
                                            "vexa_unity_interface.cpp (v20220517): ", StringComparison.Ordinal),
                       "report: " + e.Message);
            Check.Reports(39, () => VexaDevice.SetParameter(1, 1, new[] { 1 }, 1), "SetParameter");
            Check.Equal(-1, VexaDevice.Battery, "battery");
            Check.Equal(0, VexaDevice.ChannelCount, "channels");
            Check.Equal(false, VexaDevice.CommunicationFlag, "flag");
            Check.True(VexaDevice.Interrupt(), "interrupt with no loop");
            VexaDevice.Stop();
            VexaDevice.Disconnect();
            List<VexaEvent> events = new List<VexaEvent>();
            VexaDevice.DrainEvents(events);
            Check.NoEvents(events, "nothing queued");

            VexaDevice.RunLoop();  // returns at once
            VexaDevice.DrainEvents(events);
            Check.Equal(1, events.Count, "one event: " + string.Join(", ", events));
            Check.Equal(VexaEventKind.Failure, events[0].Kind, "kind");
            Check.Equal(21, events[0].Code, "code");
            Check.Equal("The object instance is invalid.", events[0].Message, "bare description");
            Check.True(!VexaDevice.IsLooping, "loop ended");
        }

        private static void Refusals()
        {
            using (Simulator sim = new Simulator())
            {
                VexaDevice.Connect(sim.Path);
                VexaDevice.SetParameter(9, 3, new[] { 80, 40 }, 2);
                VexaDevice.SetParameter(2, 2, new[] { 7 }, 1);
                Check.Reports(40, () => VexaDevice.SetParameter(1, 2, new[] { 1, 2 }, 2), "index 2, type 2");
                Check.Reports(18, () => VexaDevice.StartStrandelo(1000, 16, 0), "channel frequency 0");
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
