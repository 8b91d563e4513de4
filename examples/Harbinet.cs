// Harbinet from C#: open, set, get, delete, the cookie, the distributed class and errors,
// late bound through dynamic (Type.GetTypeFromProgID and Activator.CreateInstance).
//
// Build and run it on Windows once the DLL of the program's width is registered (the MSI
// registers both) and harbinet-server runs on both URLs. A 64-bit program (x64, or AnyCPU
// on 64-bit Windows) loads the 64-bit harbinet.dll; one built for x86 (/platform:x86, or
// AnyCPU with "Prefer 32-bit") loads the 32-bit one. With the .NET Framework compiler:
//
//   %WINDIR%\Microsoft.NET\Framework64\v4.0.30319\csc.exe /platform:x64 /r:Microsoft.CSharp.dll Harbinet.cs
//   Harbinet.exe [server URL [second server URL]]
//
// or in a console project for .NET 5 or later on Windows with <PlatformTarget>x64</PlatformTarget>.
// The URLs default to http://127.0.0.1:8077/ and http://127.0.0.1:8078/. The program prints
// what each step did and ends with "ok - Harbinet.cs" when every step went as expected;
// otherwise it prints "not ok - ..." lines and exits with their count.
using System;
using System.Runtime.InteropServices;

static class HarbinetExample
{
    const string Prefix = "example.cs.";
    static int failures;

    static void Check(bool condition, string what)
    {
        if (!condition)
        {
            failures++;
            Console.WriteLine("not ok - " + what);
        }
    }

    static dynamic Create(string progId)
    {
        // Throws when the class is not registered.
        Type type = Type.GetTypeFromProgID(progId, true);
        return Activator.CreateInstance(type);
    }

    // A failing member raises a COMException: ErrorCode is the HRESULT, Source and Message
    // are the source and description that the component reported.
    static string Describe(COMException e)
    {
        return e == null ? "no error" : string.Format("0x{0:X8} from \"{1}\": {2}", e.ErrorCode, e.Source, e.Message);
    }

    // Runs the action and gives back the COMException it raised, or null.
    static COMException Attempt(Action action)
    {
        try
        {
            action();
            return null;
        }
        catch (COMException e)
        {
            return e;
        }
    }

    static bool IsHeld(dynamic server, string name)
    {
        object ignored;
        return server.Get(name, out ignored);
    }

    // The objects belong to a single-threaded apartment.
    [STAThread]
    static int Main(string[] args)
    {
        string server1 = args.Length > 0 ? args[0] : "http://127.0.0.1:8077/";
        string server2 = args.Length > 1 ? args[1] : "http://127.0.0.1:8078/";
        try
        {
            Run(server1, server2);
        }
        catch (Exception e)
        {
            Check(false, "stopped by " + (e is COMException ? Describe((COMException)e) : e.Message));
        }
        if (failures == 0)
            Console.WriteLine("ok - Harbinet.cs");
        return failures;
    }

    static void Run(string server1, string server2)
    {
        // ---- One server ---------------------------------------------------------------
        dynamic cache = Create("Harbinet");
        cache.Open(server1);
        Console.WriteLine("Opened " + server1);

        bool stored = cache.Set(Prefix + "greeting", "Hello from C#", 60);
        Console.WriteLine("Set greeting (kept 60 s): stored " + stored);
        Check(stored, "Set greeting was not stored");

        // Get hands the value back through its second argument.
        object value;
        bool found = cache.Get(Prefix + "greeting", out value);
        Console.WriteLine("Get greeting: found {0}, value \"{1}\"", found, value);
        Check(found && "Hello from C#".Equals(value), "Get greeting gave " + found + " " + value);

        // A missing name is no error: the found flag says so.
        found = cache.Get(Prefix + "never stored", out value);
        Console.WriteLine("Get never stored: found " + found);
        Check(!found, "a missing name was found");

        // The indexer reaches Item, the default member: it stores (without expiry) and
        // fetches; values keep their type.
        cache[Prefix + "answer"] = 42;
        cache[Prefix + "when"] = new DateTime(2026, 12, 8);
        object answer = cache[Prefix + "answer"];
        object when = cache[Prefix + "when"];
        Console.WriteLine("cache[answer] = {0} ({1}), cache[when] = {2:yyyy-MM-dd} ({3})",
                          answer, answer.GetType().Name, when, when.GetType().Name);
        Check(answer is int && (int)answer == 42, "cache[answer] gave " + answer);
        Check(when is DateTime, "cache[when] gave a " + when.GetType().Name);

        cache.Delete(Prefix + "greeting");
        found = IsHeld(cache, Prefix + "greeting");
        Console.WriteLine("Deleted greeting; Get: found " + found);
        Check(!found, "Get after Delete found it");
        cache.Delete(Prefix + "answer");
        cache.Delete(Prefix + "when");

        // ---- The cookie ---------------------------------------------------------------
        // A cookie is the space the server keeps names in: another client without it does
        // not see them. An empty string asks for a fresh one (32 hexadecimal digits); null
        // drops it.
        cache.Cookie = "";
        string cookie = cache.Cookie;
        Console.WriteLine("Fresh cookie: " + cookie);
        Check(cookie != null && cookie.Length == 32, "a fresh cookie has 32 digits: " + cookie);
        cache.Set(Prefix + "basket", "3 apples");

        dynamic other = Create("Harbinet");
        other.Open(server1);
        found = IsHeld(other, Prefix + "basket");
        Console.WriteLine("Another object without the cookie: basket found " + found);
        Check(!found, "basket seen without its cookie");
        other.Cookie = cookie;
        found = IsHeld(other, Prefix + "basket");
        Console.WriteLine("The same object with the cookie: basket found " + found);
        Check(found, "basket not found with its cookie");
        cache.Delete(Prefix + "basket");
        other.Close();

        // ---- Errors -------------------------------------------------------------------
        // A failed command closes the object: Open it again before the next one.
        COMException e = Attempt(() => cache.Open(server1));
        Console.WriteLine("Open on an open object: " + Describe(e));
        Check(e != null && (uint)e.ErrorCode == 0x80040200 && e.Message == "Already connected.", "Open twice: " + Describe(e));

        e = Attempt(() => Console.WriteLine(cache[5]));
        Console.WriteLine("A number as a name: " + Describe(e));
        Check(e != null && (uint)e.ErrorCode == 0x80040300, "cache[5]: " + Describe(e));

        dynamic broken = Create("Harbinet");
        e = Attempt(() => broken.Open("http://127.0.0.1:8077"));
        Console.WriteLine("Open without a path: " + Describe(e));
        Check(e != null && (uint)e.ErrorCode == 0x80040202, "Open without a path: " + Describe(e));

        e = Attempt(() => { object ignored; broken.Get(Prefix + "greeting", out ignored); });
        Console.WriteLine("Get on an object that is not open: " + Describe(e));
        Check(e != null && (uint)e.ErrorCode == 0x80040206 && e.Message == "HTTP error.", "Get when not open: " + Describe(e));

        cache.Close();
        string kept = cache.Cookie;
        Console.WriteLine("Closed; the cookie stays: " + (kept == cookie));
        Check(kept == cookie, "the cookie after Close is " + kept);

        // ---- Several servers ----------------------------------------------------------
        // Harbinet.Distributed is opened on a list of servers separated by ";". Each call
        // goes to one of them, chosen by the object's cookie or, without one, by the value's
        // name; connections are pooled and shared by every object opened on the same list.
        string servers = server1 + ";" + server2;
        dynamic spread = Create("Harbinet.Distributed");
        spread.Open(servers);
        Console.WriteLine("Opened Harbinet.Distributed on " + servers);

        dynamic one = Create("Harbinet");
        one.Open(server1);
        dynamic two = Create("Harbinet");
        two.Open(server2);

        string[] names = { "colour", "size", "shape", "weight" };
        object[] values = { "blue", 42, "round", 1.5 };
        int onOne = 0, onTwo = 0;
        for (int i = 0; i < names.Length; i++)
        {
            string name = Prefix + names[i];
            bool isStored = spread.Set(name, values[i], 60);
            object back;
            bool isFound = spread.Get(name, out back);
            bool isOnOne = IsHeld(one, name);
            bool isOnTwo = IsHeld(two, name);
            onOne += isOnOne ? 1 : 0;
            onTwo += isOnTwo ? 1 : 0;
            Console.WriteLine("  {0} = {1}: stored {2}, found {3}, on server {4}{5}",
                              names[i], back, isStored, isFound, isOnOne ? "1" : "", isOnTwo ? "2" : "");
            Check(isStored && isFound && values[i].Equals(back), names[i] + " through Harbinet.Distributed");
            Check(isOnOne != isOnTwo, names[i] + " is on exactly one server");
        }
        Check(onOne > 0 && onTwo > 0, "the names went to both servers");
        foreach (string name in names)
            spread.Delete(Prefix + name);

        // With a cookie, every call of the object goes to the same server, whatever the name.
        spread.Cookie = "";
        string spreadCookie = spread.Cookie;
        Console.WriteLine("Distributed cookie: " + spreadCookie);
        spread.Set(Prefix + "cart", "2 pears");
        spread.Set(Prefix + "wishes", "a plum");
        one.Cookie = spreadCookie;
        two.Cookie = spreadCookie;
        bool bothOnOne = IsHeld(one, Prefix + "cart") && IsHeld(one, Prefix + "wishes");
        bool bothOnTwo = IsHeld(two, Prefix + "cart") && IsHeld(two, Prefix + "wishes");
        Console.WriteLine("cart and wishes together on server 1: {0}, on server 2: {1}", bothOnOne, bothOnTwo);
        Check(bothOnOne != bothOnTwo, "cart and wishes are on one and the same server");
        spread.Delete(Prefix + "cart");
        spread.Delete(Prefix + "wishes");
        spread.Close();
        one.Close();
        two.Close();

        dynamic unopened = Create("Harbinet.Distributed");
        e = Attempt(() => unopened.Noop());
        Console.WriteLine("Noop on a distributed object that is not open: " + Describe(e));
        Check(e != null && (uint)e.ErrorCode == 0x80040201 && e.Message == "Is not connecting.", "Noop when not open: " + Describe(e));

        // A single-server object closes its socket when it is released; the runtime
        // releases it at garbage collection unless told to now.
        foreach (object o in new object[] { cache, other, broken, spread, one, two, unopened })
            Marshal.FinalReleaseComObject(o);
    }
}
