using System;
using System.Diagnostics;
using System.Threading.Tasks;

namespace Vexa.Tests
{
    // One vexa-sim child process serving a simulated device on a
    // pseudo-terminal; closing its standard input ends it.
    internal sealed class Simulator : IDisposable
    {
        private const int StartTimeoutMs = 5000;
        private const int ExitTimeoutMs = 5000;

        internal static string Executable;

        private readonly Process process;

        // The path to connect with, "COM" + the terminal's name.
        internal string Path { get; private set; }

        internal Simulator(params string[] args)
        {
            ProcessStartInfo info = new ProcessStartInfo(Executable, Quote(args))
            {
                UseShellExecute = false,
                RedirectStandardInput = true,
                RedirectStandardOutput = true,
                RedirectStandardError = true,
            };
            process = Process.Start(info);
            process.ErrorDataReceived += (sender, e) => { };
            process.BeginErrorReadLine();
            Task<string> line = Task.Run(() => process.StandardOutput.ReadLine());
            if (!line.Wait(StartTimeoutMs) || line.Result == null)
            {
                Dispose();
                throw new CheckFailed("vexa-sim " + Quote(args) + " printed no port path");
            }
            Path = line.Result.Trim();
            Check.True(Path.StartsWith("COM/", StringComparison.Ordinal), "vexa-sim path: " + Path);
        }

        // Ends the simulator as a user would: end of its input.
        internal void Close()
        {
            try
            {
                process.StandardInput.Close();
            }
            catch (Exception)
            {
                // Already gone.
            }
        }

        public void Dispose()
        {
            Close();
            if (!process.WaitForExit(ExitTimeoutMs))
            {
                process.Kill();
                process.WaitForExit();
            }
            process.Dispose();
        }

        private static string Quote(string[] args)
        {
            string[] quoted = new string[args.Length];
            for (int i = 0; i < args.Length; i++) quoted[i] = "\"" + args[i].Replace("\"", "\\\"") + "\"";
            return string.Join(" ", quoted);
        }
    }
}
