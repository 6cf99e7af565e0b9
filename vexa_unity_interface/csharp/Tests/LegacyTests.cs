using System;
using System.Collections.Generic;

namespace Vexa.Tests
{
    // The two older families run their own loop: frames carry one sample
    // per selected channel, and digital inputs come as events before the
    // frame that changed them (every input with the first frame).
    internal static class LegacyTests
    {
        private const int Ticks = 60;  // within one turn of the 7-bit sequence

        internal static void Register(TestRunner runner)
        {
            runner.Add("compact board: frames and its four digital inputs through the loop", Quillbox);
            runner.Add("oldest family: 12-bit frames and its digital input through the loop", Cadrium);
        }

        private static void Quillbox()
        {
            // Inputs of successive frames; bit 3 is input 0, bit 0 input 3.
            int[] inputs = { 0, 8, 4, 2, 1, 15 };
            // Value k of a frame: 10 bits for the first four, 6 for the rest.
            Func<int, int[]> expected = tick =>
            {
                int[] values = new int[6];
                for (int k = 0; k < 6; k++) values[k] = SamplePattern.Value(tick, 0, k, k < 4 ? 10 : 6);
                return values;
            };
            Run(new[] { "--family", "quillbox", "--digital-inputs", "0,8,4,2,1,15" },
                () => VexaDevice.StartMask(1000, 0x3F, 16), expected, 6,
                tick => new[] { (inputs[tick % 6] & 8) != 0, (inputs[tick % 6] & 4) != 0,
                                (inputs[tick % 6] & 2) != 0, (inputs[tick % 6] & 1) != 0 },
                "Quillbox");
        }

        private static void Cadrium()
        {
            int[] channels = { 0, 2, 5 };  // mask 0x25; an odd count packs a lone last value
            Func<int, int[]> expected = tick =>
            {
                int[] values = new int[channels.Length];
                for (int i = 0; i < channels.Length; i++) values[i] = SamplePattern.Value(tick, 0, channels[i], 12);
                return values;
            };
            Run(new[] { "--family", "cadrium", "--digital-inputs", "0,1,1,0,1" },
                () => VexaDevice.StartMask(1000, 0x25, 12), expected, 3,
                tick => new[] { new[] { 0, 1, 1, 0, 1 }[tick % 5] != 0 }, "Cadrium");
        }

        private static void Run(string[] simArgs, Action start, Func<int, int[]> expected, int channels,
                                Func<int, bool[]> inputsAt, string type)
        {
            using (Simulator sim = new Simulator(simArgs))
            {
                VexaDevice.Connect(sim.Path);
                Check.Equal(type, VexaDevice.DeviceType, "type");
                start();
                Check.Equal(channels, VexaDevice.ChannelCount, "channels");
                Acquisition acquisition = Acquisition.StartLoop();
                acquisition.WaitForFrames(Ticks);
                acquisition.Interrupt();
                VexaDevice.Stop();

                List<VexaFrame> frames = acquisition.Frames;
                for (int n = 0; n < frames.Count; n++)
                {
                    Check.Equal(n, frames[n].Tick, "tick of frame " + n);
                    int[] want = expected(n);
                    Check.Equal(want.Length, frames[n].Samples.Length, "values at tick " + n);
                    for (int k = 0; k < want.Length; k++)
                    {
                        Check.Equal(want[k], frames[n].Samples[k], "value " + k + " at tick " + n);
                    }
                }
                CheckInputEvents(acquisition.Events, frames.Count, inputsAt);
            }
        }

        // Events of the delivered frames, in order: all inputs at tick 0,
        // then each change at the tick of the frame that carries it.
        private static void CheckInputEvents(List<VexaEvent> events, int ticks, Func<int, bool[]> inputsAt)
        {
            List<string> want = new List<string>();
            bool[] reported = null;
            for (int tick = 0; tick < ticks; tick++)
            {
                bool[] now = inputsAt(tick);
                for (int i = 0; i < now.Length; i++)
                {
                    if (reported != null && reported[i] == now[i]) continue;
                    want.Add(Describe(2, tick, i, now[i]));
                }
                reported = now;
            }
            List<string> got = new List<string>();
            foreach (VexaEvent ev in events)
            {
                Check.Equal(VexaEventKind.DigitalInput, ev.Kind, "event " + ev);
                // The frame after the last delivered one may have reported
                // its inputs before the interrupt took effect.
                if (ev.ClockValue < ticks) got.Add(Describe(ev.ClockSource, ev.ClockValue, ev.Input, ev.State));
            }
            Check.Equal(string.Join(" ", want), string.Join(" ", got), "digital input events");
        }

        private static string Describe(int clockSource, int clockValue, int input, bool state)
        {
            return "(" + clockSource + "," + clockValue + "," + input + "," + (state ? 1 : 0) + ")";
        }
    }
}
