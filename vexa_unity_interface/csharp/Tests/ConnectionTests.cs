namespace Vexa.Tests
{
    internal static class ConnectionTests
    {
        internal static void Register(TestRunner runner)
        {
            runner.Add("connect reads the device; a failed connect keeps it and names its cause", Connect);
        }

        private static void Connect()
        {
            using (Simulator sim = new Simulator("--description", "FernlitVexa", "--product", "0x0205"))
            {
                VexaDevice.Connect(sim.Path);
                Check.True(VexaDevice.IsConnected, "connected");
                Check.Equal("FernlitVexa", VexaDevice.DeviceType, "type");
                Check.Equal(0x0205, VexaDevice.ProductId, "product");
                Check.Equal(96, VexaDevice.Battery, "battery of raw 1700");
                Check.Equal(0, VexaDevice.ChannelCount, "channels before a start");
                Check.Equal(false, VexaDevice.CommunicationFlag, "flag before a start");

                VexaException e = Check.Reports(1, () => VexaDevice.Connect("COM/dev/nonexistent"), "missing port");
                Check.True(e.Message.StartsWith("VEXA Notification Exception at line number 384 in file " +
                                                "vexa_unity_interface.cpp (v20220517): ") && e.Message.EndsWith("\n"),
                           "notification report: " + e.Message);
                Check.Equal("open /dev/nonexistent: No such file or directory (errno 2)", e.Detail, "the cause");
                Check.True(VexaDevice.IsConnected, "still connected");
                Check.Equal(96, VexaDevice.Battery, "the earlier device still talks");

                VexaDevice.Disconnect();
                Check.True(!VexaDevice.IsConnected, "disconnected");
                VexaException other = Check.Reports(31, () => { int unused = VexaDevice.ProductId; },
                                                    "product after disconnect");
                Check.Equal("", other.Detail, "a failure without a cause has no stale one");
                Check.True(VexaLog.Version.Split('.').Length == 3, "version: " + VexaLog.Version);
            }
        }
    }
}
