// The frame as a script host sees it: both classes by ProgID, members by name, the default member, errors.
var E_INVALID_URL = 0x80040202;
var E_HTTP = 0x80040206;

var nFailures = 0;

function Ok(bCondition, sMessage) {
    if (!bCondition) {
        nFailures++;
        WScript.Echo("FAIL: " + sMessage);
    }
}

// Error numbers arrive as signed 32-bit values; shown and compared unsigned.
function Unsigned(n) {
    return n >>> 0;
}

function ErrText(e) {
    if (e === null)
        return "no error";
    return "0x" + Unsigned(e.number).toString(16).toUpperCase() + " \"" + e.description + "\"";
}

// Runs f and gives back what it threw, or null.
function Attempt(f) {
    try {
        f();
        return null;
    } catch (e) {
        return e;
    }
}

function ExpectError(e, nNumber, sDescription, sWhat) {
    Ok(e !== null && Unsigned(e.number) === nNumber && e.description === sDescription, sWhat + ": got " + ErrText(e));
}

// A failure that a member raised, not one of the dispatch itself (no such member,
// wrong argument count or type).
function IsMemberFailure(e) {
    if (e === null)
        return false;
    var aDispatchErrors = [0x80020003, 0x8002000E, 0x80020005, 0x8002000F, 0x800A01B6, 0x800A01C2];
    for (var i = 0; i < aDispatchErrors.length; i++) {
        if (Unsigned(e.number) === aDispatchErrors[i])
            return false;
    }
    return true;
}

var h = null, d = null, v, e;

e = Attempt(function () { h = new ActiveXObject("Harbinet"); });
Ok(e === null, "new ActiveXObject(\"Harbinet\"): " + ErrText(e));
e = Attempt(function () { d = WScript.CreateObject("Harbinet.Distributed"); });
Ok(e === null, "WScript.CreateObject(\"Harbinet.Distributed\"): " + ErrText(e));
if (h === null || d === null) {
    WScript.Echo("FAIL: no objects, nothing else can run");
    WScript.Quit(nFailures + 1);
}

// The cookie of a new object reads as an empty string.
e = Attempt(function () { v = h.Cookie; });
Ok(e === null, "Cookie of a new object: " + ErrText(e));
Ok(v === "" || v === null, "Cookie of a new object: " + typeof v + " \"" + v + "\"");
e = Attempt(function () { h.Cookie = "abc"; });
Ok(e === null, "Cookie = \"abc\": " + ErrText(e));
v = h.Cookie;
Ok(v === "abc", "Cookie after setting \"abc\": \"" + v + "\"");

e = Attempt(function () { h.Open("http://cachehost:8000"); });
ExpectError(e, E_INVALID_URL, "Invalid URL.", "Open of a URL without path");

// Noop without its optional name, then with it; the object is not open.
e = Attempt(function () { h.Noop(); });
ExpectError(e, E_HTTP, "HTTP error.", "Noop() on a closed object");
e = Attempt(function () { h.Noop("user7"); });
ExpectError(e, E_HTTP, "HTTP error.", "Noop(\"user7\") on a closed object");
e = Attempt(function () { h.Delete("user7"); });
ExpectError(e, E_HTTP, "HTTP error.", "Delete(\"user7\") on a closed object");
e = Attempt(function () { h.Close(); });
Ok(e === null, "Close() of a closed object: " + ErrText(e));

// The default member: the object called with a name reaches Item, as does Item by its name.
e = Attempt(function () { v = h("user7"); });
ExpectError(e, E_HTTP, "HTTP error.", "h(\"user7\") on a closed object");
e = Attempt(function () { v = h.Item("user7"); });
ExpectError(e, E_HTTP, "HTTP error.", "Item(\"user7\") on a closed object");

v = h.Cookie;
Ok(v === "abc", "Cookie after failed commands: \"" + v + "\"");

// The distributed class answers the same names; its members fail on an object that is not open.
e = Attempt(function () { d.Noop(); });
Ok(IsMemberFailure(e), "Distributed Noop(): " + ErrText(e));
e = Attempt(function () { d.Delete("user7"); });
Ok(IsMemberFailure(e), "Distributed Delete(\"user7\"): " + ErrText(e));
e = Attempt(function () { v = d("user7"); });
Ok(IsMemberFailure(e), "Distributed d(\"user7\"): " + ErrText(e));

// A name that the interface lacks is the host's error, not a member's.
e = Attempt(function () { h.Flush(); });
Ok(e !== null && !IsMemberFailure(e), "h.Flush(): " + ErrText(e));

h = null;
d = null;
if (nFailures == 0)
    WScript.Echo("ok - frame.js");
WScript.Quit(nFailures);
