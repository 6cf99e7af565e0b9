using System;
using System.IO;
using System.Runtime.InteropServices;

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
            string sim = Environment.GetEnvironmentVariable("VEXA_SIM");
            for (int i = 0; i < args.Length; i++)
            {
                if (args[i] == "--filter" && i + 1 < args.Length) filter = args[++i];
                else sim = args[i];
            }
            if (string.IsNullOrEmpty(sim))
            {
                Console.Error.WriteLine("vexa-sim not given: pass its path or set VEXA_SIM");
                return 2;
            }
            Simulator.Executable = sim;
            InteropTests.ExportsFile = Environment.GetEnvironmentVariable("VEXA_EXPORTS");
            KeepConsoleFromLibraryLog();

            TestRunner runner = new TestRunner(Cleanup);
            InteropTests.Register(runner);
            ExportTests.Register(runner);
            AcquisitionTests.Register(runner);
            WrapperTests.Register(runner);
            WorkerTests.Register(runner);
            return runner.Run(filter) == 0 ? 0 : 1;
        }

        // Leaves the library as a fresh process would have it.
        private static void Cleanup()
        {
            VexaDevice.Disconnect();
            VexaDevice.ClearQueues();
        }

        // The library logs to the process's standard output, which would mix
        // its lines (some without a line break) into the runner's. The
        // runner keeps a copy of the original output; the library's log goes
        // to vexa_logs_file.txt in the working directory.
        private static void KeepConsoleFromLibraryLog()
        {
            Console.Out.Flush();
            int copy = dup(1);
            if (copy < 0) return;
            Console.SetOut(TextWriter.Synchronized(new FdWriter(copy)));
            VexaDevice.OpenLogFile();
            Console.WriteLine("library log: " + Path.GetFullPath("vexa_logs_file.txt"));
        }

        [DllImport("libc")]
        private static extern int dup(int fd);
    }
}
