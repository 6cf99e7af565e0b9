using System;

namespace Vexa
{
    // A failure the library reported for the call in progress: its numeric
    // code (which export failed and how) and the library's own text.
    public sealed class VexaException : Exception
    {
        public VexaException(int code, string message) : base(message)
        {
            Code = code;
        }

        public int Code { get; private set; }

        public override string ToString()
        {
            return "VexaException " + Code + ": " + Message;
        }
    }
}
