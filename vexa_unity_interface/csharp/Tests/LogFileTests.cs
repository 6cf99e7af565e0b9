using System;
using System.Diagnostics;
using System.IO;
using System.Reflection;

namespace Vexa.Tests
{
    // OpenLogFile redirects the whole process's standard output, so it runs
    // in a child process with its own working directory.
    internal static class LogFileTests
    {
        private const string LogName = "vexa_logs_file.txt";

        internal static void Register(TestRunner runner)
        {
            runner.Add("OpenLogFile sends the library's reports to vexa_logs_file.txt", LogFile);
        }

        // The child: opens the log, makes one report, exits with the value.
        internal static int RunChild()
        {
            int value = VexaDevice.OpenLogFile();
            try
            {
                VexaDevice.Connect("COM/dev/nonexistent");
            }
            catch (VexaException)
            {
            }
            return value;
        }

        private static void LogFile()
        {
            string dir = Path.Combine(Path.GetTempPath(), "vexa-log-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(dir);
            try
            {
                File.WriteAllText(Path.Combine(dir, LogName), "left over\n");
                ProcessStartInfo info = new ProcessStartInfo(Process.GetCurrentProcess().MainModule.FileName,
                                                             "\"" + Assembly.GetEntryAssembly().Location + "\" " +
                                                             Program.LogChildFlag)
                {
                    UseShellExecute = false,
                    WorkingDirectory = dir,
                };
                using (Process child = Process.Start(info))
                {
                    Check.True(child.WaitForExit(10000), "child ended");
                    Check.True(child.ExitCode >= 0 && child.ExitCode <= 99, "value 0 to 99: " + child.ExitCode);
                }
                string log = File.ReadAllText(Path.Combine(dir, LogName));
                Check.True(log.StartsWith("VEXA Notification Exception at line number 384 in file " +
                                          "vexa_unity_interface.cpp (v20220517): ", StringComparison.Ordinal),
                           "the file was emptied and holds the report: " + log);
            }
            finally
            {
                Directory.Delete(dir, true);
            }
        }
    }
}
