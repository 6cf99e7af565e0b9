// IL2CPP only lets native code call back into static methods that carry this
// attribute. Unity ships its own copy; this one lets the binding compile
// outside Unity (plain Mono, tests) and is left out inside Unity so the two
// never clash.
#if !UNITY_5_3_OR_NEWER
using System;

namespace AOT
{
    [AttributeUsage(AttributeTargets.Method)]
    public sealed class MonoPInvokeCallbackAttribute : Attribute
    {
        public MonoPInvokeCallbackAttribute(Type type)
        {
            Type = type;
        }

        public Type Type { get; private set; }
    }
}
#endif
