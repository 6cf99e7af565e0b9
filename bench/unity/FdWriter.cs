using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace Vexa.Tests
{
    // The benchmarks' console: writes straight to a POSIX file descriptor (a
    // copy of standard output made before the library's log takes it over).
    // Mono's streams take no raw descriptor, and reopening one by name would
    // start a second file offset that later writers of the same output would
    // overwrite.
    internal sealed class FdWriter : TextWriter
    {
        private readonly int fd;

        internal FdWriter(int fd)
        {
            this.fd = fd;
        }

        public override Encoding Encoding
        {
            get { return Encoding.UTF8; }
        }

        public override void Write(char value)
        {
            Write(value.ToString());
        }

        public override void Write(string value)
        {
            if (string.IsNullOrEmpty(value)) return;
            byte[] bytes = Encoding.UTF8.GetBytes(value);
            GCHandle pin = GCHandle.Alloc(bytes, GCHandleType.Pinned);
            try
            {
                for (int done = 0; done < bytes.Length;)
                {
                    int n = (int)sys_write(fd, pin.AddrOfPinnedObject() + done, (IntPtr)(bytes.Length - done));
                    if (n < 0 && Marshal.GetLastWin32Error() == 4) continue;  // EINTR
                    if (n <= 0) throw new IOException("cannot write the benchmark output");
                    done += n;
                }
            }
            finally
            {
                pin.Free();
            }
        }

        [DllImport("libc", EntryPoint = "write", SetLastError = true)]
        private static extern IntPtr sys_write(int fd, IntPtr buffer, IntPtr count);
    }
}
