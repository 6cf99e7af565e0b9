using System;
using System.Collections.Generic;

namespace Vexa.Tests
{
    internal sealed class CheckFailed : Exception
    {
        internal CheckFailed(string message) : base(message)
        {
        }
    }

    internal static class Check
    {
        internal static void True(bool condition, string what)
        {
            if (!condition) throw new CheckFailed(what);
        }

        internal static void Equal<T>(T expected, T actual, string what)
        {
            if (!EqualityComparer<T>.Default.Equals(expected, actual))
            {
                throw new CheckFailed(what + ": expected <" + expected + ">, got <" + actual + ">");
            }
        }

        internal static T Throws<T>(Action action, string what) where T : Exception
        {
            try
            {
                action();
            }
            catch (T e)
            {
                return e;
            }
            catch (Exception e)
            {
                throw new CheckFailed(what + ": expected " + typeof(T).Name + ", got " + e);
            }
            throw new CheckFailed(what + ": expected " + typeof(T).Name + ", nothing was thrown");
        }

        // Waits, `wait(msLeft)` at a time, until `done` holds; fails with
        // `what()` once DeadlineMs have passed or `wait` gives up.
        internal const int DeadlineMs = 10000;

        internal static void Await(Func<bool> done, Func<int, bool> wait, Func<string> what)
        {
            int deadline = Environment.TickCount + DeadlineMs;
            while (!done())
            {
                int left = deadline - Environment.TickCount;
                if (left <= 0 || !wait(left)) throw new CheckFailed(what());
            }
        }

        internal static void NoEvents<T>(List<T> events, string what)
        {
            Equal(0, events.Count, what + ": " + string.Join(", ", events));
        }

        // The library's report for `action`: its code and text.
        internal static VexaException Reports(int code, Action action, string what)
        {
            VexaException e = Throws<VexaException>(action, what);
            Equal(code, e.Code, what + " code (" + e.Message.TrimEnd() + ")");
            return e;
        }
    }
}
