using System;

namespace Vexa.Tests
{
    // Usage: mono VexaTests.exe [--filter TEXT] [VEXA_SIM_PATH]
    // The simulator comes from the argument or the VEXA_SIM variable; the
    // library from the loader's search path (LD_LIBRARY_PATH); the list of
    // its exports from the VEXA_EXPORTS variable.
    internal static class Program
    {
        private static int Main(string[] args)
        {
            string filter = null;
            Simulator.Executable = Environment.GetEnvironmentVariable("VEXA_SIM");
            for (int i = 0; i < args.Length; i++)
            {
                if (args[i] == "--filter" && i + 1 < args.Length) filter = args[++i];
                else Simulator.Executable = args[i];
            }
            if (string.IsNullOrEmpty(Simulator.Executable))
            {
                Console.Error.WriteLine("vexa-sim not given: pass its path or set VEXA_SIM");
                return 2;
            }
            InteropTests.ExportsFile = Environment.GetEnvironmentVariable("VEXA_EXPORTS");
            // The library logs to standard output (some lines without a line
            // break) and then to vexa_logs_file.txt: the results go to the
            // standard error, which it leaves alone.
            Console.SetOut(Console.Error);
            VexaDevice.OpenLogFile();

            int queueLength = VexaDevice.MaxQueuedFrames;
            TestRunner runner = new TestRunner(() =>
            {
                // Leaves the library and the binding as a fresh process would
                // have them.
                WorkerTests.StopWorkers();
                VexaDevice.DisableSampleRing();
                VexaDevice.MaxQueuedFrames = queueLength;
                VexaDevice.Disconnect();
                VexaDevice.ClearQueues();
            });
            InteropTests.Register(runner);
            ExportTests.Register(runner);
            WrapperTests.Register(runner);
            WorkerTests.Register(runner);
            SessionTests.Register(runner);
            return runner.Run(filter) == 0 ? 0 : 1;
        }
    }
}
