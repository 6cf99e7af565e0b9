using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

namespace Vexa.Tests
{
    // The wrapper's own promises: a bounded queue that says what it dropped,
    // a shutdown that leaves the library nothing to call and the next
    // session nothing stale, and a domain that unloads (an editor script
    // reload) leaving no pointer into it behind.
    internal static class WrapperTests
    {
        private const int DeadlineMs = 5000;

        internal static void Register(TestRunner runner)
        {
            runner.Add("a full frame queue keeps the oldest frames and counts the rest; Shutdown ends the loop, " +
                       "disconnects, detaches the handlers and forgets the session", Shutdown);
            runner.Add("scripts' domains unload leaving no handler, loop, device, held connect, thread or descriptor",
                       ChildDomains);
            runner.Add("VexaRecording writes the acquisition and a UTF-8 marker to a file; one it cannot write " +
                       "queues one RecordingFailed and Stop throws its cause", Recording);
        }

        // The refusal without an acquisition, a UTF-8 marker in the file, then
        // a file that cannot be written: one RecordingFailed, Stop throws its cause.
        private static void Recording()
        {
            string path = Path.Combine(Path.GetTempPath(), "vexa_cs_recording_" + Environment.TickCount + ".csv");
            string full = path + ".full.csv";
            Check.Equal(0, symlink("/dev/full", full), "a file on a full disk");
            try
            {
                VexaRecording.DescribeChannel(0, "EMG left", "uV", -1000, 1000);
                VexaRecording.Describe("S07", null);
                VexaDevice.Connect("SIM");
                VexaException refused = Check.Throws<VexaException>(() => VexaRecording.Start(path),
                                                                     "no acquisition yet");
                Check.Equal(VexaRecording.FailureCode, refused.Code, "code");
                Check.True(refused.Detail.StartsWith("No acquisition runs"), "detail: " + refused.Detail);

                VexaDevice.StartMask(1000, 0x5, 16);
                VexaRecording.Start(path);
                Acquisition acquisition = new Acquisition();
                acquisition.WaitForFrames(100);
                Check.True(VexaRecording.Marker("boss \u03A9, wave 2"), "marker taken");
                acquisition.WaitForFrames(200);
                acquisition.Interrupt();
                VexaRecording.Stop();
                Check.True(!VexaRecording.Marker("late"), "no marker after the stop");
                string text = File.ReadAllText(path, Encoding.UTF8);
                Check.True(text.Contains(",\"Marker: boss \u03A9, wave 2\"\r\n"), "marker in the file");
                Check.True(text.Split('\n').Length > 100, "rows in the file: " + text.Length + " characters");

                VexaDevice.Stop();
                VexaDevice.StartMask(1000, 0x1, 16);
                VexaRecording.Start(full);
                acquisition = new Acquisition();
                VexaEvent failed = acquisition.WaitForEvent();
                acquisition.WaitForFrames(acquisition.Frames.Count + 50);
                acquisition.Interrupt();
                Check.Equal(1, acquisition.Events.Count, "events: " + string.Join(", ", acquisition.Events));
                Check.Equal(VexaEventKind.RecordingFailed + " " + VexaNative.RecordingFailedCode,
                            failed.Kind + " " + failed.Code, "kind and code");
                VexaException stop = Check.Throws<VexaException>(VexaRecording.Stop, "stop");
                Check.Equal("The recording could not be written: write: No space left on device (errno 28)",
                            stop.Detail, "the cause");
            }
            finally
            {
                File.Delete(path);
                File.Delete(full);
            }
        }

        [DllImport("libc")]
        private static extern int symlink(string target, string linkPath);

        // With domain reload off, statics outlive Play sessions: Shutdown
        // then a new session must start clean.
        private static void Shutdown()
        {
            VexaDevice.MaxQueuedFrames = 20;
            VexaDevice.Connect("SIM");
            VexaDevice.StartMask(1000, 1, 16);
            Thread loop = VexaDevice.StartLoopThread();
            Check.Poll(() => VexaDevice.DroppedFrames > 0, () => "no frame was dropped");
            List<VexaFrame> frames = new List<VexaFrame>();
            Check.Equal(20, VexaDevice.DrainFrames(frames), "frames kept");
            SamplePattern.CheckFrames(frames, new[] { new VexaSource(1, 1, 16, 1) }, 0);
            Check.True(VexaDevice.DroppedFrames > 0, "drops still counted after draining");
            Check.True(VexaDevice.WaitForData(DeadlineMs), "frames queued again");
            VexaNative.OnDisconnectEventDetected(9);  // an event left undrained

            VexaDevice.Shutdown();
            Check.True(loop.Join(DeadlineMs), "loop thread ended");
            Check.True(!VexaDevice.IsConnected, "disconnected");
            Check.Equal("0 0", VexaDevice.DrainFrames(frames) + " " + VexaDevice.DroppedFrames,
                        "frames and drops left for the next session");
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

        // Scripts that leave something behind when their domain unloads, as
        // the editor's does at every script reload while the library stays
        // loaded: a worker's connect held on a silent port, a log handler, a
        // loop running. The unload must take it all back: then the library,
        // called directly, reports, logs and loops with no pointer into the
        // gone domain (a call through one crashes), and the second round ends
        // with no thread or descriptor more than the first.
        private static void ChildDomains()
        {
            VexaDevice.Shutdown();  // this domain's handlers out of the slots: the scripts' take them
            int threads = 0, descriptors = 0;
            for (int round = 0; round < 2; round++)
            {
                foreach (CrossAppDomainDelegate script in new CrossAppDomainDelegate[] { HeldConnect, LogOnly, Frames })
                {
                    string name = script.Method.Name;
                    using (SilentPort silent = new SilentPort())
                    {
                        AppDomain child = AppDomain.CreateDomain(name, null, AppDomain.CurrentDomain.SetupInformation);
                        child.SetData("port", silent.Path);
                        child.DoCallBack(script);
                        if (name == "HeldConnect") silent.WaitForHandshake();
                        AppDomain.Unload(child);
                    }
                    Check.Equal(0, VexaNative.GetNbrChannels(), name + ": the device acquires no more");
                    VexaNative.VexaDevUnity("COM/dev/vexa-no-such-port");
                    VexaNative.VexaDevUnity("SIM:quillbox");
                    VexaNative.VexaExtEnableSampleRing(0);
                    VexaNative.StartAcquisitionByNbr(1000, 0x3, 16);
                    Thread loop = new Thread(VexaNative.StartLoop);
                    loop.Start();
                    int read = 0;
                    Check.Poll(() => (read += VexaNative.VexaExtReadSamples(new int[16], 16, new int[32], 32)) >= 50,
                               () => name + ": the library's own loop gave " + read + " instants");
                    // The loop drops an interrupt that comes while it is busy.
                    while (!loop.Join(1)) VexaNative.InterruptAcquisition();
                    VexaNative.StopAcquisition();
                    VexaNative.DisconnectVexaDevUnity();
                    VexaNative.VexaExtDisableSampleRing();
                }
                if (round == 0)
                {
                    threads = Entries("task");
                    descriptors = Entries("fd");
                }
            }
            Check.Poll(() => Entries("task") <= threads && Entries("fd") <= descriptors,
                       () => Entries("task") + " threads, " + Entries("fd") + " descriptors; after the first round " +
                             threads + ", " + descriptors);
        }

        private static int Entries(string folder)
        {
            return Directory.GetFileSystemEntries("/proc/self/" + folder).Length;
        }

        private static void LogOnly()
        {
            VexaLog.SetHandler((level, text) => { }, VexaLog.Error);
        }

        private static void Frames()
        {
            VexaLog.SetHandler((level, text) => { }, VexaLog.Debug);
            VexaDevice.Connect("SIM:quillbox");
            VexaDevice.StartMask(1000, 0x5, 16);
            VexaDevice.StartLoopThread();
            Check.True(VexaDevice.WaitForData(Check.DeadlineMs), "a frame queued");
        }

        private static void HeldConnect()
        {
            new VexaDeviceWorker { Port = (string)AppDomain.CurrentDomain.GetData("port") }.Start();
        }
    }
}
