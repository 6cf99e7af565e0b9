using System.Runtime.InteropServices;

namespace Vexa
{
    // One channel source as the library reads it: four 32-bit integers,
    // 16 bytes, in this order.
    [StructLayout(LayoutKind.Sequential)]
    public struct VexaSource
    {
        public int Port;         // 1-based port number
        public int FreqDivisor;  // sampled on every FreqDivisor-th tick
        public int NBits;        // 8, 16 or 24
        public int ChMask;       // bit i: channel i of the port (bits 0 to 15)

        public VexaSource(int port, int freqDivisor, int nBits, int chMask)
        {
            Port = port;
            FreqDivisor = freqDivisor;
            NBits = nBits;
            ChMask = chMask;
        }
    }
}

namespace Vexa
{
    // One channel of a running acquisition, as VexaDevice.AcquisitionLayout
    // gives it: four 32-bit integers, 16 bytes, in this order.
    [StructLayout(LayoutKind.Sequential)]
    public struct VexaChannelLayout
    {
        public int Port;     // 1-based port number
        public int Index;    // the channel's index on its port
        public int Bits;     // bits per sample
        public int Divisor;  // sampled on every Divisor-th tick

        public override string ToString()
        {
            return "port " + Port + " ch " + Index + " " + Bits + " bits /" + Divisor;
        }
    }
}
