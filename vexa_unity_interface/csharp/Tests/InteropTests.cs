using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;

namespace Vexa.Tests
{
    // What no call can show reliably: names, widths and attributes at the
    // boundary. A bool of the wrong width usually works until the register
    // holds garbage; a callback without its attribute works under Mono and
    // fails only in an IL2CPP player.
    internal static class InteropTests
    {
        // Declared nowhere: a C++ std::vector argument, and a data symbol.
        private static readonly string[] NotCallable = { "OnDataReceived", "vexaDev" };

        internal static string ExportsFile;

        internal static void Register(TestRunner runner)
        {
            runner.Add("every callable export is declared and found in the library", Exports);
            runner.Add("bools cross as one byte and texts as bytes", Layout);
            runner.Add("every callback carries the attribute IL2CPP needs", CallbackAttributes);
        }

        private static IEnumerable<MethodInfo> Imports()
        {
            return typeof(VexaNative).GetMethods(BindingFlags.Public | BindingFlags.Static)
                .Where(m => (m.Attributes & MethodAttributes.PinvokeImpl) != 0);
        }

        private static void Exports()
        {
            Check.True(File.Exists(ExportsFile ?? ""), "exports list (VEXA_EXPORTS): " + ExportsFile);
            List<string> exported = File.ReadAllLines(ExportsFile).Select(line => line.Trim())
                .Where(line => line.Length > 0 && !line.StartsWith("#") && !NotCallable.Contains(line)).ToList();
            List<string> declared = Imports().Select(m => m.Name).ToList();
            foreach (MethodInfo method in Imports()) Marshal.Prelink(method);  // throws if the library lacks it
            exported.Sort();
            declared.Sort();
            Check.Equal(string.Join(" ", exported), string.Join(" ", declared), "declared exports");
        }

        private static void Layout()
        {
            IEnumerable<MethodInfo> boundary = Imports().Concat(
                typeof(VexaNative).Assembly.GetTypes().Where(t => t.IsSubclassOf(typeof(MulticastDelegate)))
                    .Select(t => t.GetMethod("Invoke")));
            int bools = 0;
            foreach (MethodInfo method in boundary)
            {
                foreach (ParameterInfo p in method.GetParameters().Concat(new[] { method.ReturnParameter }))
                {
                    // The runtime would marshal it in the ANSI code page on
                    // Windows: texts cross as UTF-8 bytes.
                    Check.True(p.ParameterType != typeof(string), method.Name + " takes no string");
                    if (p.ParameterType != typeof(bool)) continue;
                    bools++;
                    MarshalAsAttribute marshal =
                        (MarshalAsAttribute)Attribute.GetCustomAttribute(p, typeof(MarshalAsAttribute));
                    Check.True(marshal != null && marshal.Value == UnmanagedType.I1,
                               method.DeclaringType.Name + "." + method.Name + " " + (p.Name ?? "result") +
                               " is one byte");
                }
            }
            Check.Equal(3, bools, "bools at the boundary (digital input state twice, the flag)");
        }

        private static void CallbackAttributes()
        {
            Type callbacks = typeof(VexaNative).Assembly.GetType("Vexa.VexaCallbacks", true);
            int found = 0;
            foreach (FieldInfo field in callbacks.GetFields(BindingFlags.NonPublic | BindingFlags.Static))
            {
                if (!field.FieldType.IsSubclassOf(typeof(MulticastDelegate))) continue;
                if (field.IsDefined(typeof(CompilerGeneratedAttribute), false)) continue;  // caches
                Delegate handler = (Delegate)field.GetValue(null);
                MethodInfo method = handler.Method;
                Check.True(method.IsStatic, field.Name + " targets a static method");
                AOT.MonoPInvokeCallbackAttribute attribute = (AOT.MonoPInvokeCallbackAttribute)Attribute
                    .GetCustomAttribute(method, typeof(AOT.MonoPInvokeCallbackAttribute));
                Check.True(attribute != null, method.Name + " has MonoPInvokeCallback");
                Check.Equal(field.FieldType, attribute.Type, method.Name + " names its own delegate type");
                found++;
            }
            Check.Equal(5, found, "handlers kept in static fields");
        }
    }
}
