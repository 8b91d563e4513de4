// Harbinet from JScript: open, set, get, delete, the cookie, the distributed class and errors.
//
// Run it with a script host of Windows (or under wine) once harbinet.dll is registered
// and harbinet-server runs on both URLs. %WINDIR%\System32\cscript.exe is 64-bit and
// loads the 64-bit harbinet.dll; %WINDIR%\SysWOW64\cscript.exe is 32-bit and loads the
// 32-bit one (each registered by the regsvr32 of the same folder, or both by the MSI):
//
//   cscript //nologo harbinet.js [server URL [second server URL]]
//
// The URLs default to http://127.0.0.1:8077/ and http://127.0.0.1:8078/. The script
// prints what each step did and ends with "ok - harbinet.js" when every step went as
// expected; otherwise it prints "not ok - ..." lines and exits with their count.
//
// JScript cannot receive an out argument: Get(name, null) answers whether the value is
// there, and the default member, cache(name), fetches it.

var sServer1 = "http://127.0.0.1:8077/";
var sServer2 = "http://127.0.0.1:8078/";
if (WScript.Arguments.length > 0)
    sServer1 = WScript.Arguments.Item(0);
if (WScript.Arguments.length > 1)
    sServer2 = WScript.Arguments.Item(1);

var PREFIX = "example.js.";
var nFailures = 0;

function Check(bCondition, sWhat)
{
    if (!bCondition)
    {
        nFailures++;
        WScript.Echo("not ok - " + sWhat);
    }
}

function Say(sText)
{
    WScript.Echo(sText);
}

// Error numbers arrive as signed 32-bit values; shown and compared unsigned.
function ErrorNumber(e)
{
    return e.number >>> 0;
}

function ErrorText(e)
{
    if (e === null)
        return "no error";
    return "0x" + ErrorNumber(e).toString(16).toUpperCase() + ": " + e.description;
}

// Runs f and gives back the error it raised, or null.
function Attempt(f)
{
    try
    {
        f();
        return null;
    }
    catch (e)
    {
        return e;
    }
}

// Whether a single-server object finds the name on its server.
function IsHeld(server, sName)
{
    return server.Get(sName, null);
}

function OneServer()
{
    var cache = new ActiveXObject("Harbinet");
    cache.Open(sServer1);
    Say("Opened " + sServer1);

    var bStored = cache.Set(PREFIX + "greeting", "Hello from JScript", 60);
    Say("Set greeting (kept 60 s): stored " + bStored);
    Check(bStored === true, "Set greeting stored " + bStored);

    var bFound = cache.Get(PREFIX + "greeting", null);
    var vValue = cache(PREFIX + "greeting");
    Say("Get greeting: found " + bFound + ", value \"" + vValue + "\"");
    Check(bFound === true && vValue === "Hello from JScript", "Get greeting gave " + bFound + " \"" + vValue + "\"");

    // A missing name is no error: the found flag says so, and the default member
    // leaves its result empty (undefined).
    bFound = cache.Get(PREFIX + "never stored", null);
    vValue = cache(PREFIX + "never stored");
    Say("Get never stored: found " + bFound + ", cache(name) is " + typeof vValue);
    Check(bFound === false && typeof vValue == "undefined", "a missing name gave " + bFound + " " + typeof vValue);

    // Values keep their type: numbers, booleans and strings come back as they went.
    cache.Set(PREFIX + "answer", 42);
    cache.Set(PREFIX + "flag", true);
    Say("cache(answer) = " + cache(PREFIX + "answer") + " (" + typeof cache(PREFIX + "answer") + ")");
    Say("cache(flag) = " + cache(PREFIX + "flag") + " (" + typeof cache(PREFIX + "flag") + ")");
    Check(cache(PREFIX + "answer") === 42, "cache(answer) gave " + cache(PREFIX + "answer"));
    Check(cache(PREFIX + "flag") === true, "cache(flag) gave " + cache(PREFIX + "flag"));

    cache.Delete(PREFIX + "greeting");
    bFound = cache.Get(PREFIX + "greeting", null);
    Say("Deleted greeting; Get: found " + bFound);
    Check(bFound === false, "Get after Delete found it");
    cache.Delete(PREFIX + "answer");
    cache.Delete(PREFIX + "flag");
    return cache;
}

// A cookie is the space the server keeps names in: another client without it does not
// see them. An empty string asks for a fresh one (32 hexadecimal digits).
function Cookie(cache)
{
    cache.Cookie = "";
    var sCookie = cache.Cookie;
    Say("Fresh cookie: " + sCookie);
    Check(/^[0-9a-f]{32}$/.test(sCookie), "a fresh cookie has 32 digits: \"" + sCookie + "\"");
    cache.Set(PREFIX + "basket", "3 apples");

    var other = new ActiveXObject("Harbinet");
    other.Open(sServer1);
    var bFound = IsHeld(other, PREFIX + "basket");
    Say("Another object without the cookie: basket found " + bFound);
    Check(bFound === false, "basket seen without its cookie");
    other.Cookie = sCookie;
    bFound = IsHeld(other, PREFIX + "basket");
    Say("The same object with the cookie: basket found " + bFound + ", \"" + other(PREFIX + "basket") + "\"");
    Check(bFound === true && other(PREFIX + "basket") === "3 apples", "basket with its cookie gave " + bFound);
    cache.Delete(PREFIX + "basket");
    other.Close();
    return sCookie;
}

// Every failure is an exception with a number and a description. A failed command
// closes the object: Open it again before the next one.
function Errors(cache, sCookie)
{
    var e = Attempt(function () { cache.Open(sServer1); });
    Say("Open on an open object: " + ErrorText(e));
    Check(e !== null && ErrorNumber(e) === 0x80040200 && e.description === "Already connected.", "Open twice: " + ErrorText(e));

    e = Attempt(function () { var v = cache(5); });
    Say("A number as a name: " + ErrorText(e));
    Check(e !== null && ErrorNumber(e) === 0x80040300 && e.description === "Invalid name type.", "cache(5): " + ErrorText(e));

    var broken = new ActiveXObject("Harbinet");
    e = Attempt(function () { broken.Open("http://127.0.0.1:8077"); });
    Say("Open without a path: " + ErrorText(e));
    Check(e !== null && ErrorNumber(e) === 0x80040202 && e.description === "Invalid URL.", "Open without a path: " + ErrorText(e));

    e = Attempt(function () { broken.Get(PREFIX + "greeting", null); });
    Say("Get on an object that is not open: " + ErrorText(e));
    Check(e !== null && ErrorNumber(e) === 0x80040206 && e.description === "HTTP error.", "Get when not open: " + ErrorText(e));

    cache.Close();
    Say("Closed; the cookie stays: " + (cache.Cookie === sCookie));
    Check(cache.Cookie === sCookie, "the cookie after Close is \"" + cache.Cookie + "\"");
}

// Harbinet.Distributed is opened on a list of servers separated by ";". Each call goes
// to one of them, chosen by the object's cookie or, without one, by the value's name;
// connections are pooled and shared by every object opened on the same list.
function SeveralServers()
{
    var sServers = sServer1 + ";" + sServer2;
    var spread = new ActiveXObject("Harbinet.Distributed");
    spread.Open(sServers);
    Say("Opened Harbinet.Distributed on " + sServers);

    var one = new ActiveXObject("Harbinet");
    one.Open(sServer1);
    var two = new ActiveXObject("Harbinet");
    two.Open(sServer2);

    var aNames = ["colour", "size", "shape", "weight"];
    var aValues = ["blue", 42, "round", 1.5];
    var nOnOne = 0, nOnTwo = 0;
    for (var i = 0; i < aNames.length; i++)
    {
        var sName = PREFIX + aNames[i];
        var bStored = spread.Set(sName, aValues[i], 60);
        var bFound = spread.Get(sName, null);
        var vValue = spread(sName);
        var bOnOne = IsHeld(one, sName);
        var bOnTwo = IsHeld(two, sName);
        nOnOne += bOnOne ? 1 : 0;
        nOnTwo += bOnTwo ? 1 : 0;
        Say("  " + aNames[i] + " = " + vValue + ": stored " + bStored + ", found " + bFound
            + ", on server " + (bOnOne ? "1" : "") + (bOnTwo ? "2" : ""));
        Check(bStored === true && bFound === true && vValue === aValues[i], aNames[i] + " through Harbinet.Distributed");
        Check(bOnOne !== bOnTwo, aNames[i] + " is on exactly one server (1: " + bOnOne + ", 2: " + bOnTwo + ")");
    }
    Check(nOnOne > 0 && nOnTwo > 0, "the names went to both servers (" + nOnOne + " and " + nOnTwo + ")");

    for (var i = 0; i < aNames.length; i++)
        spread.Delete(PREFIX + aNames[i]);
    var bGone = spread.Get(PREFIX + "colour", null);
    Say("Deleted them; Get colour: found " + bGone);
    Check(bGone === false, "colour after Delete");

    // With a cookie, every call of the object goes to the same server, whatever the name.
    spread.Cookie = "";
    Say("Distributed cookie: " + spread.Cookie);
    spread.Set(PREFIX + "cart", "2 pears");
    spread.Set(PREFIX + "wishes", "a plum");
    Say("Get cart under the cookie: \"" + spread(PREFIX + "cart") + "\"");
    Check(spread(PREFIX + "cart") === "2 pears", "cart under the cookie gave " + spread(PREFIX + "cart"));
    one.Cookie = spread.Cookie;
    two.Cookie = spread.Cookie;
    var bBothOnOne = IsHeld(one, PREFIX + "cart") && IsHeld(one, PREFIX + "wishes");
    var bBothOnTwo = IsHeld(two, PREFIX + "cart") && IsHeld(two, PREFIX + "wishes");
    Say("cart and wishes are both on server " + (bBothOnOne ? "1" : "") + (bBothOnTwo ? "2" : ""));
    Check(bBothOnOne !== bBothOnTwo, "cart and wishes are on one and the same server");
    spread.Delete(PREFIX + "cart");
    spread.Delete(PREFIX + "wishes");
    spread.Close();
    one.Close();
    two.Close();

    var unopened = new ActiveXObject("Harbinet.Distributed");
    var e = Attempt(function () { unopened.Noop(); });
    Say("Noop on a distributed object that is not open: " + ErrorText(e));
    Check(e !== null && ErrorNumber(e) === 0x80040201 && e.description === "Is not connecting.", "Noop when not open: " + ErrorText(e));
}

// Anything unexpected ends the run with its error, so the last line says what broke.
var eUnexpected = Attempt(function ()
{
    var cache = OneServer();
    var sCookie = Cookie(cache);
    Errors(cache, sCookie);
    SeveralServers();
});
Check(eUnexpected === null, "stopped by " + (eUnexpected === null ? "" : ErrorText(eUnexpected)));

if (nFailures == 0)
    Say("ok - harbinet.js");
else
    WScript.Quit(nFailures);
