namespace Vexa.Tests
{
    internal static class ConnectionTests
    {
        private const string ReportTail = " in file vexa_unity_interface.cpp (v20220517): ";

        internal static void Register(TestRunner runner)
        {
            runner.Add("connect reads the default device's type, product and battery", DefaultDevice);
            runner.Add("device type, product and battery follow what the device reports", Identities);
            runner.Add("connect refuses a product that cannot acquire", UnsupportedProduct);
            runner.Add("connect to a missing port reports notification 1", MissingPort);
            runner.Add("a failed connect keeps the earlier device", FailedConnectKeepsDevice);
        }

        private static void DefaultDevice()
        {
            using (Simulator sim = new Simulator())
            {
                VexaDevice.Connect(sim.Path);
                Check.True(VexaDevice.IsConnected, "connected");
                Check.Equal("tessarimodular", VexaDevice.DeviceType, "type");
                Check.Equal(0x0201, VexaDevice.ProductId, "product");
                Check.Equal(96, VexaDevice.Battery, "battery of raw 1700");
                Check.Equal(0, VexaDevice.ChannelCount, "channels before a start");
                Check.Equal(false, VexaDevice.CommunicationFlag, "flag before a start");

                VexaDevice.Disconnect();
                Check.True(!VexaDevice.IsConnected, "disconnected");
                Check.Reports(31, () => { int unused = VexaDevice.ProductId; }, "product after disconnect");
            }
        }

        private static void Identities()
        {
            // description, product, battery raw -> type, battery percent
            object[][] rows =
            {
                new object[] { "quillbox_rev", "0x0201", "1600", "Quillbox", 67 },
                new object[] { "Quillbox", "0x0201", "1500", "Quillbox", 9 },
                new object[] { "Strandelo QZ Vexa", "0x0201", "0", "Strandelo QZ Vexa", -1 },
                new object[] { "FernlitVexa", "0x0205", "1700", "FernlitVexa", 96 },
                new object[] { "Cadrium", "0x0601", "1700", "Cadrium", 96 },
                new object[] { "Cadrium ", "0x0201", "1700", "Not supported device", 96 },
            };
            foreach (object[] row in rows)
            {
                string description = (string)row[0];
                using (Simulator sim = new Simulator("--description", description, "--product", (string)row[1],
                                                     "--battery", (string)row[2]))
                {
                    VexaDevice.Connect(sim.Path);
                    string what = "'" + description + "' ";
                    Check.Equal((string)row[3], VexaDevice.DeviceType, what + "type");
                    Check.Equal(System.Convert.ToInt32((string)row[1], 16), VexaDevice.ProductId, what + "product");
                    Check.Equal((int)row[4], VexaDevice.Battery, what + "battery of raw " + row[2]);
                    VexaDevice.Disconnect();
                }
            }
        }

        private static void UnsupportedProduct()
        {
            using (Simulator sim = new Simulator("--product", "0x0301"))
            {
                VexaException e = Check.Reports(2, () => VexaDevice.Connect(sim.Path), "product group 3");
                Check.True(e.Message.StartsWith("VEXA Error Exception at line number 390" + ReportTail),
                           "error report: " + e.Message);
                Check.True(!VexaDevice.IsConnected, "not connected");
            }
        }

        private static void MissingPort()
        {
            VexaException e = Check.Reports(1, () => VexaDevice.Connect("COM/dev/nonexistent"), "missing port");
            Check.True(e.Message.StartsWith("VEXA Notification Exception at line number 384" + ReportTail),
                       "notification report: " + e.Message);
            Check.True(e.Message.EndsWith("\n"), "report ends its line");
            Check.Equal("open /dev/nonexistent: No such file or directory (errno 2)", e.Detail, "the cause");
            Check.True(!VexaDevice.IsConnected, "not connected");
            VexaException other = Check.Reports(35, () => { string unused = VexaDevice.DeviceType; },
                                                "no device after the failure");
            Check.Equal("", other.Detail, "a failure without a cause has no stale one");
            Check.True(VexaLog.Version.Split('.').Length == 3, "version: " + VexaLog.Version);
        }

        private static void FailedConnectKeepsDevice()
        {
            using (Simulator sim = new Simulator("--description", "FernlitVexa"))
            {
                VexaDevice.Connect(sim.Path);
                Check.Reports(1, () => VexaDevice.Connect("COM/dev/nonexistent"), "second connect");
                Check.True(VexaDevice.IsConnected, "still connected");
                Check.Equal("FernlitVexa", VexaDevice.DeviceType, "the earlier device answers");
                Check.Equal(96, VexaDevice.Battery, "and still talks");
            }
        }
    }
}
