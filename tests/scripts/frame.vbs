' The frame as a script host sees it: both classes by ProgID, members by name, the default member, errors.
Option Explicit

Const E_NOTIMPL = &H80004001
Const E_INVALID_URL = &H80040202
Const E_HTTP = &H80040206

Dim nFailures
nFailures = 0

Sub Ok(bCondition, sMessage)
    If Not bCondition Then
        nFailures = nFailures + 1
        WScript.Echo "FAIL: " & sMessage
    End If
End Sub

Function ErrText()
    ErrText = "&H" & Hex(Err.Number) & " """ & Err.Source & """ """ & Err.Description & """"
End Function

' A failure that a member raised, not one of the dispatch itself (no such member,
' wrong argument count or type).
Function IsMemberFailure(nNumber)
    Select Case nNumber
        Case 0, 13, 438, 450, 449, &H80020003, &H8002000E, &H80020005, &H8002000F
            IsMemberFailure = False
        Case Else
            IsMemberFailure = True
    End Select
End Function

Sub ExpectError(nNumber, sSource, sDescription, sWhat)
    Ok Err.Number = nNumber And Err.Source = sSource And Err.Description = sDescription, _
        sWhat & ": got " & ErrText()
    Err.Clear
End Sub

Dim h, d, v

On Error Resume Next

Set h = CreateObject("Harbinet")
Ok Err.Number = 0, "CreateObject(""Harbinet""): " & ErrText()
Err.Clear
Set d = CreateObject("Harbinet.Distributed")
Ok Err.Number = 0, "CreateObject(""Harbinet.Distributed""): " & ErrText()
Err.Clear
If Not IsObject(h) Or Not IsObject(d) Then
    WScript.Echo "FAIL: no objects, nothing else can run"
    WScript.Quit nFailures + 1
End If
Ok TypeName(h) = "IHarbinet", "TypeName(Harbinet object): " & TypeName(h)
Ok TypeName(d) = "IHarbinet", "TypeName(Harbinet.Distributed object): " & TypeName(d)

' The cookie of a new object reads as an empty string.
v = h.Cookie
Ok Err.Number = 0, "Cookie of a new object: " & ErrText()
Err.Clear
Ok Len(v) = 0 And Not IsNull(v), "Cookie of a new object: TypeName " & TypeName(v) & ", """ & v & """"
h.Cookie = "abc"
Ok Err.Number = 0, "Cookie = ""abc"": " & ErrText()
Err.Clear
v = h.Cookie
Ok v = "abc", "Cookie after setting ""abc"": """ & v & """"

h.Open "http://cachehost:8000"
ExpectError E_INVALID_URL, "Harbinet", "Invalid URL.", "Open of a URL without path"

' Noop without its optional name, then with it; the object is not open.
h.Noop
ExpectError E_HTTP, "Harbinet", "HTTP error.", "Noop without a name on a closed object"
h.Noop "user7"
ExpectError E_HTTP, "Harbinet", "HTTP error.", "Noop ""user7"" on a closed object"
h.Delete "user7"
ExpectError E_HTTP, "Harbinet", "HTTP error.", "Delete ""user7"" on a closed object"
h.Close
Ok Err.Number = 0, "Close of a closed object: " & ErrText()
Err.Clear

' The default member: the object with a name in parentheses reaches Item.
v = h("user7")
ExpectError E_HTTP, "Harbinet", "HTTP error.", "h(""user7"") on a closed object"
h("user7") = 42
ExpectError E_HTTP, "Harbinet", "HTTP error.", "h(""user7"") = 42 on a closed object"

' The cookie outlives the failed commands.
v = h.Cookie
Ok v = "abc", "Cookie after failed commands: """ & v & """"
Err.Clear

' The distributed class answers the same names; its members fail on an object that is not open.
d.Noop
Ok IsMemberFailure(Err.Number), "Distributed Noop without a name: " & ErrText()
Err.Clear
v = d("user7")
Ok IsMemberFailure(Err.Number), "Distributed d(""user7""): " & ErrText()
Err.Clear
d.Delete "user7"
Ok IsMemberFailure(Err.Number), "Distributed Delete: " & ErrText()
Err.Clear

' A name that the interface lacks is the host's error, not a member's.
h.Flush
Ok Err.Number = 438, "h.Flush: " & ErrText()
Err.Clear

Set h = Nothing
Set d = Nothing
If nFailures = 0 Then WScript.Echo "ok - frame.vbs"
WScript.Quit nFailures
