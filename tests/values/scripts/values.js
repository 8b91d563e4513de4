// Values that JScript makes, stored through Set and fetched through Get and the default member.
var nFailures = 0;

function Ok(bCondition, sMessage)
{
    if (!bCondition)
    {
        nFailures++;
        WScript.Echo("not ok - " + sMessage);
    }
}

// The type and the text of a value, for messages.
function Show(v)
{
    if (v === null)
        return "null";
    if (typeof v == "undefined")
        return "undefined";
    return typeof v + " " + String(v);
}

var h;
var aNames = [];

// JScript cannot take an out argument back, so values come back through the default
// member; Get still says whether the value is there.
function Store(sLabel, vValue)
{
    var sName = "js." + sLabel;
    aNames.push(sName);
    var bSet = h.Set(sName, vValue);
    Ok(bSet === true, sLabel + ": Set gave " + Show(bSet));
    var bFound = h.Get(sName, null);
    Ok(bFound === true, sLabel + ": Get gave " + Show(bFound));
    return sName;
}

function CheckRoundTrip(sLabel, vValue)
{
    var sName = Store(sLabel, vValue);
    var vBack = h(sName);
    Ok(typeof vBack == typeof vValue && vBack === vValue,
       sLabel + ": h(name) fetched " + Show(vBack) + ", stored " + Show(vValue));
    var vItem = h.Item(sName);
    Ok(vItem === vValue, sLabel + ": h.Item(name) fetched " + Show(vItem));
}

function Run()
{
    var shell = new ActiveXObject("WScript.Shell");
    var sUrl = shell.Environment("PROCESS")("HARBINET_TEST_URL");
    Ok(sUrl != "", "HARBINET_TEST_URL is set: " + sUrl);
    h = new ActiveXObject("Harbinet");
    h.Open(sUrl);

    CheckRoundTrip("string", "Hello, world");
    CheckRoundTrip("empty string", "");
    CheckRoundTrip("unicode string", "Gr\u00fc\u00df \u20ac \ud83d\ude00");
    CheckRoundTrip("integer", 42);
    CheckRoundTrip("negative integer", -2147483648);
    CheckRoundTrip("double", 3.14159265358979);
    CheckRoundTrip("fraction", -0.1);
    CheckRoundTrip("large number", 1e300);
    CheckRoundTrip("true", true);
    CheckRoundTrip("false", false);
    CheckRoundTrip("null", null);

    // undefined travels as VT_EMPTY.
    Store("undefined", undefined);
    var vEmpty = h("js.undefined");
    Ok(typeof vEmpty == "undefined", "undefined fetched " + Show(vEmpty));

    // Currency and the smaller number types come from VBScript; JScript reads them as
    // numbers. (The JScript of some hosts cannot take arrays or dates from a call at
    // all, so those are left to the VBScript test.)
    var sHelper = WScript.ScriptFullName.replace(/values\.js$/i, "store_made_values.vbs");
    var nHelper = shell.Run('cscript //nologo "' + sHelper + '" js.made.', 0, true);
    Ok(nHelper == 0, "store_made_values.vbs failed " + nHelper + " times");
    aNames.push("js.made.currency", "js.made.negative currency", "js.made.byte", "js.made.single");
    Ok(h("js.made.currency") === 1234.5678, "currency fetched " + Show(h("js.made.currency")));
    Ok(h("js.made.negative currency") === -0.0001, "negative currency fetched " + Show(h("js.made.negative currency")));
    Ok(h("js.made.byte") === 200, "byte fetched " + Show(h("js.made.byte")));
    Ok(h("js.made.single") === 0.5, "single fetched " + Show(h("js.made.single")));

    // A missing value: Get gives false and the default member gives nothing.
    Ok(h.Get("js.never stored", null) === false, "Get of a missing value gave true");
    Ok(typeof h("js.never stored") == "undefined", "h(missing) gave " + Show(h("js.never stored")));

    // A JScript array or object is an object that is no stream.
    var aObjects = [[1, 2, 3], {a: 1}, new ActiveXObject("Scripting.Dictionary")];
    for (var i = 0; i < aObjects.length; i++)
    {
        try
        {
            h.Set("js.script object", aObjects[i]);
            Ok(false, "Set of a script object succeeded: " + Show(aObjects[i]));
        }
        catch (e)
        {
            Ok((e.number >>> 0) == 0x80040209, "Set of a script object raised " + (e.number >>> 0).toString(16));
            Ok(e.description == "IStream required.", "Set of a script object said " + e.description);
        }
        h.Open(sUrl);
    }

    try
    {
        var v = h(5);
        Ok(false, "h(5) succeeded with " + Show(v));
    }
    catch (e)
    {
        Ok((e.number >>> 0) == 0x80040300, "h(5) raised " + (e.number >>> 0).toString(16));
        Ok(e.description == "Invalid name type.", "h(5) said " + e.description);
    }

    for (var i = 0; i < aNames.length; i++)
        h.Delete(aNames[i]);
    h.Close();
}

// A script error would otherwise end the run without a word.
try
{
    Run();
}
catch (e)
{
    Ok(false, "the script stopped: " + e.description + " (" + (e.number >>> 0).toString(16) + ")");
}
if (nFailures == 0)
    WScript.Echo("ok - values.js");
WScript.Quit(nFailures);
