' Harbinet demo: stores, fetches and deletes values of several types on a harbinet-server,
' then spreads values over two servers through Harbinet.Distributed.
' Usage: cscript //nologo demo.vbs [server URL [second server URL]]
Option Explicit

Dim sUrl, sSecondUrl
sUrl = "http://127.0.0.1:8077/"
sSecondUrl = "http://127.0.0.1:8078/"
If WScript.Arguments.Count > 0 Then sUrl = WScript.Arguments(0)
If WScript.Arguments.Count > 1 Then sSecondUrl = WScript.Arguments(1)

Dim cache, distributed
Set cache = CreateObject("Harbinet")
Set distributed = CreateObject("Harbinet.Distributed")
WScript.Echo "Created " & TypeName(cache) & " (ProgID Harbinet) and " & TypeName(distributed) & " (ProgID Harbinet.Distributed)"

cache.Open sUrl
WScript.Echo "Opened " & sUrl
cache.Noop

Sub Show(sName)
    Dim value, bFound
    bFound = cache.Get(sName, value)
    If Not bFound Then
        WScript.Echo "  " & sName & ": not found"
    ElseIf IsArray(value) Then
        WScript.Echo "  " & sName & ": array of " & (UBound(value) + 1) & " elements: " & Describe(value)
    Else
        WScript.Echo "  " & sName & ": " & TypeName(value) & " " & Describe(value)
    End If
End Sub

Function Describe(value)
    Dim i, sText
    If IsArray(value) Then
        sText = "("
        For i = LBound(value) To UBound(value)
            If i > LBound(value) Then sText = sText & ", "
            sText = sText & Describe(value(i))
        Next
        Describe = sText & ")"
    ElseIf IsNull(value) Then
        Describe = "Null"
    ElseIf IsEmpty(value) Then
        Describe = "Empty"
    Else
        Describe = CStr(value)
    End If
End Function

WScript.Echo "Storing:"
cache.Set "greeting", "Hello from Harbinet", 60
cache.Set "answer", 42
cache.Set "pi", 3.14159265358979
cache.Set "price", CCur("1234.5678")
cache.Set "when", DateSerial(2026, 12, 8) + TimeSerial(15, 30, 0)
cache.Set "flag", True
cache.Set "nothing", Null
cache("list") = Array("one", 2, Array(3.5, "four"), Empty)
WScript.Echo "  greeting, answer, pi, price, when, flag, nothing, list"

WScript.Echo "Fetching:"
Dim sName
For Each sName In Array("greeting", "answer", "pi", "price", "when", "flag", "nothing", "list")
    Show sName
Next
WScript.Echo "  cache(""answer"") = " & cache("answer")

WScript.Echo "Deleting answer and greeting:"
cache.Delete "answer"
cache.Delete "greeting"
Show "answer"
Show "greeting"

cache.Cookie = ""
WScript.Echo "A fresh cookie: " & cache.Cookie
cache.Set "private", "only under this cookie"
Show "private"
cache.Cookie = "somebody else"
WScript.Echo "With the cookie ""somebody else"":"
Show "private"

On Error Resume Next
cache.Open "HTTP://wrong/"
WScript.Echo "Open on an open object: " & Hex(Err.Number) & " " & Err.Source & ": " & Err.Description
Err.Clear
On Error GoTo 0

cache.Close
WScript.Echo "Closed."

WScript.Echo ""
WScript.Echo "Harbinet.Distributed over " & sUrl & " and " & sSecondUrl & ":"
distributed.Open sUrl & ";" & sSecondUrl
Dim aUsers : aUsers = Array("alice", "bob", "carol", "dave", "erin", "frank")
Dim sStored : sStored = ""
For Each sName In aUsers
    distributed.Set sName, "profile of " & sName, 300
    sStored = sStored & " " & sName
Next
WScript.Echo "  stored" & sStored & " (the sum of a name's characters picks its server)"

' Each server read on its own, to show where every value went.
Dim single, value, sServer, sHeld
For Each sServer In Array(sUrl, sSecondUrl)
    Set single = CreateObject("Harbinet")
    single.Open sServer
    sHeld = ""
    For Each sName In aUsers
        If single.Get(sName, value) Then sHeld = sHeld & " " & sName
    Next
    single.Close
    WScript.Echo "  " & sServer & " holds:" & sHeld
Next

Dim bFound
bFound = distributed.Get("carol", value)
WScript.Echo "  distributed.Get(""carol""): found " & bFound & ", " & value

' A cookie keeps every name of one client on one server.
distributed.Cookie = ""
WScript.Echo "  with the cookie " & distributed.Cookie & " every name goes to one server:"
distributed.Set "cart", "3 items"
distributed.Set "last page", "/checkout"
For Each sServer In Array(sUrl, sSecondUrl)
    Set single = CreateObject("Harbinet")
    single.Open sServer
    single.Cookie = distributed.Cookie
    sHeld = ""
    For Each sName In Array("cart", "last page")
        If single.Get(sName, value) Then sHeld = sHeld & " " & sName
    Next
    single.Close
    WScript.Echo "    " & sServer & " holds:" & sHeld
Next
distributed.Close
WScript.Echo "Closed the distributed object; its pool keeps the connections for the next one."
