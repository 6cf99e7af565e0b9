using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Vexa
{
    // Text crosses the library's boundary as NUL-terminated UTF-8 both ways.
    // The runtime's own string marshalling uses the system's ANSI code page
    // on Windows (a user's name in a path would turn into '?'), so the
    // binding converts itself, the same way under Mono and IL2CPP.
    internal static class VexaText
    {
        // NUL-terminated UTF-8, or null for null.
        internal static byte[] ToUtf8(string text)
        {
            if (text == null) return null;
            byte[] utf8 = new byte[Encoding.UTF8.GetByteCount(text) + 1];
            Encoding.UTF8.GetBytes(text, 0, text.Length, utf8, 0);
            return utf8;
        }

        // The library's NUL-terminated UTF-8 text; "" for a null pointer.
        internal static string FromUtf8(IntPtr text)
        {
            if (text == IntPtr.Zero) return "";
            int length = 0;
            while (Marshal.ReadByte(text, length) != 0) length++;
            if (length == 0) return "";
            byte[] bytes = new byte[length];
            Marshal.Copy(text, bytes, 0, length);
            return Encoding.UTF8.GetString(bytes);
        }
    }
}
