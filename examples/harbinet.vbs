' Harbinet from VBScript: open, set, get, delete, the cookie, the distributed class and errors.
'
' Run it with a script host of Windows (or under wine) once harbinet.dll is registered
' and harbinet-server runs on both URLs. %WINDIR%\System32\cscript.exe is 64-bit and
' loads the 64-bit harbinet.dll; %WINDIR%\SysWOW64\cscript.exe is 32-bit and loads the
' 32-bit one (each registered by the regsvr32 of the same folder, or both by the MSI):
'
'   cscript //nologo harbinet.vbs [server URL [second server URL]]
'
' The URLs default to http://127.0.0.1:8077/ and http://127.0.0.1:8078/. The script
' prints what each step did and ends with "ok - harbinet.vbs" when every step went as
' expected; otherwise it prints "not ok - ..." lines and exits with their count.
Option Explicit

Dim sServer1, sServer2
sServer1 = "http://127.0.0.1:8077/"
sServer2 = "http://127.0.0.1:8078/"
If WScript.Arguments.Count > 0 Then sServer1 = WScript.Arguments(0)
If WScript.Arguments.Count > 1 Then sServer2 = WScript.Arguments(1)

Dim nFailures
nFailures = 0

Sub Check(bCondition, sWhat)
    If Not bCondition Then
        nFailures = nFailures + 1
        WScript.Echo "not ok - " & sWhat
    End If
End Sub

' Err as one line: number, source and description are what a caller gets to see.
Function ErrText()
    ErrText = "&H" & Hex(Err.Number) & " from """ & Err.Source & """: " & Err.Description
End Function

Const PREFIX = "example.vbs."

' ---- One server -----------------------------------------------------------------------

Dim cache
Set cache = CreateObject("Harbinet")
cache.Open sServer1
WScript.Echo "Opened " & sServer1

Dim bStored, bFound, vValue, sElement
bStored = cache.Set(PREFIX & "greeting", "Hello from VBScript", 60)
WScript.Echo "Set greeting (kept 60 s): stored " & bStored
Check bStored, "Set greeting stored " & bStored

bFound = cache.Get(PREFIX & "greeting", vValue)
WScript.Echo "Get greeting: found " & bFound & ", value """ & vValue & """"
Check bFound And vValue = "Hello from VBScript", "Get greeting gave " & bFound & " """ & vValue & """"

' A missing name is no error: the found flag says so and the variable keeps its value.
vValue = "unchanged"
bFound = cache.Get(PREFIX & "never stored", vValue)
WScript.Echo "Get never stored: found " & bFound & ", variable still """ & vValue & """"
Check Not bFound And vValue = "unchanged", "Get of a missing name gave " & bFound & " """ & vValue & """"

' The default member stores (without expiry) and fetches; values keep their type.
cache(PREFIX & "answer") = 42
cache(PREFIX & "when") = DateSerial(2026, 12, 8)
cache(PREFIX & "list") = Array("one", 2, 3.5)
WScript.Echo "cache(answer) = " & cache(PREFIX & "answer") & " (" & TypeName(cache(PREFIX & "answer")) & ")"
WScript.Echo "cache(when) = " & cache(PREFIX & "when") & " (" & TypeName(cache(PREFIX & "when")) & ")"
vValue = cache(PREFIX & "list")
WScript.Echo "cache(list) = (" & vValue(0) & ", " & vValue(1) & ", " & vValue(2) & "), lower bound " & LBound(vValue)
Check cache(PREFIX & "answer") = 42 And TypeName(cache(PREFIX & "answer")) = "Integer", "cache(answer) gave " & cache(PREFIX & "answer")
Check TypeName(cache(PREFIX & "when")) = "Date", "cache(when) gave " & TypeName(cache(PREFIX & "when"))
Check LBound(vValue) = 0 And UBound(vValue) = 2 And vValue(2) = 3.5, "cache(list) gave " & UBound(vValue) + 1 & " elements"

cache.Delete PREFIX & "greeting"
bFound = cache.Get(PREFIX & "greeting", vValue)
WScript.Echo "Deleted greeting; Get: found " & bFound
Check Not bFound, "Get after Delete found it"
cache.Delete PREFIX & "answer"
cache.Delete PREFIX & "when"
' An array is stored as one entry per element plus its own: delete them all.
cache.Delete PREFIX & "list"
For Each sElement In Array("list(0)", "list(1)", "list(2)")
    cache.Delete PREFIX & sElement
Next

' ---- The cookie -----------------------------------------------------------------------
' A cookie is the space the server keeps names in: another client without it does not
' see them. An empty string asks for a fresh one (32 hexadecimal digits).

cache.Cookie = ""
Dim sCookie
sCookie = cache.Cookie
WScript.Echo "Fresh cookie: " & sCookie
Check Len(sCookie) = 32, "a fresh cookie has 32 digits: """ & sCookie & """"
cache.Set PREFIX & "basket", "3 apples"

Dim other
Set other = CreateObject("Harbinet")
other.Open sServer1
bFound = other.Get(PREFIX & "basket", vValue)
WScript.Echo "Another object without the cookie: basket found " & bFound
Check Not bFound, "basket seen without its cookie"
other.Cookie = sCookie
bFound = other.Get(PREFIX & "basket", vValue)
WScript.Echo "The same object with the cookie: basket found " & bFound & ", """ & vValue & """"
Check bFound And vValue = "3 apples", "basket with its cookie gave " & bFound & " """ & vValue & """"
cache.Delete PREFIX & "basket"
other.Close

' ---- Errors ---------------------------------------------------------------------------
' Every failure is an error with a number, a source and a description. A failed command
' closes the object: Open it again before the next one.

On Error Resume Next

cache.Open sServer1
WScript.Echo "Open on an open object: " & ErrText()
Check Err.Number = &H80040200 And Err.Source = "Harbinet" And Err.Description = "Already connected.", "Open twice: " & ErrText()
Err.Clear

vValue = cache(5)
WScript.Echo "A number as a name: " & ErrText()
Check Err.Number = &H80040300 And Err.Description = "Invalid name type.", "cache(5): " & ErrText()
Err.Clear

Dim broken
Set broken = CreateObject("Harbinet")
broken.Open "http://127.0.0.1:8077"
WScript.Echo "Open without a path: " & ErrText()
Check Err.Number = &H80040202 And Err.Description = "Invalid URL.", "Open without a path: " & ErrText()
Err.Clear

bFound = broken.Get(PREFIX & "greeting", vValue)
WScript.Echo "Get on an object that is not open: " & ErrText()
Check Err.Number = &H80040206 And Err.Description = "HTTP error.", "Get when not open: " & ErrText()
Err.Clear

On Error GoTo 0
cache.Close
WScript.Echo "Closed; the cookie stays: " & (cache.Cookie = sCookie)
Check cache.Cookie = sCookie, "the cookie after Close is """ & cache.Cookie & """"

' ---- Several servers ------------------------------------------------------------------
' Harbinet.Distributed is opened on a list of servers separated by ";". Each call goes
' to one of them, chosen by the object's cookie or, without one, by the value's name;
' connections are pooled and shared by every object opened on the same list.

Dim sServers
sServers = sServer1 & ";" & sServer2
Dim spread
Set spread = CreateObject("Harbinet.Distributed")
spread.Open sServers
WScript.Echo "Opened Harbinet.Distributed on " & sServers

Dim one, two
Set one = CreateObject("Harbinet")
one.Open sServer1
Set two = CreateObject("Harbinet")
two.Open sServer2

Dim aNames, aValues, i, bOnOne, bOnTwo, nOnOne, nOnTwo
aNames = Array("colour", "size", "shape", "weight")
aValues = Array("blue", 42, "round", 1.5)
nOnOne = 0
nOnTwo = 0
For i = 0 To UBound(aNames)
    bStored = spread.Set(PREFIX & aNames(i), aValues(i), 60)
    bFound = spread.Get(PREFIX & aNames(i), vValue)
    bOnOne = IsHeld(one, PREFIX & aNames(i))
    bOnTwo = IsHeld(two, PREFIX & aNames(i))
    If bOnOne Then nOnOne = nOnOne + 1
    If bOnTwo Then nOnTwo = nOnTwo + 1
    WScript.Echo "  " & aNames(i) & " = " & vValue & ": stored " & bStored & ", found " & bFound & _
        ", on server " & IIf(bOnOne, "1", "") & IIf(bOnTwo, "2", "")
    Check bStored And bFound And vValue = aValues(i), aNames(i) & " through Harbinet.Distributed"
    Check bOnOne Xor bOnTwo, aNames(i) & " is on exactly one server (1: " & bOnOne & ", 2: " & bOnTwo & ")"
Next
Check nOnOne > 0 And nOnTwo > 0, "the names went to both servers (" & nOnOne & " and " & nOnTwo & ")"

For i = 0 To UBound(aNames)
    spread.Delete PREFIX & aNames(i)
Next
bFound = spread.Get(PREFIX & "colour", vValue)
WScript.Echo "Deleted them; Get colour: found " & bFound
Check Not bFound, "colour after Delete"

' With a cookie, every call of the object goes to the same server, whatever the name.
spread.Cookie = ""
WScript.Echo "Distributed cookie: " & spread.Cookie
spread.Set PREFIX & "cart", "2 pears"
spread.Set PREFIX & "wishes", "a plum"
bFound = spread.Get(PREFIX & "cart", vValue)
WScript.Echo "Get cart under the cookie: found " & bFound & ", """ & vValue & """"
Check bFound And vValue = "2 pears", "cart under the cookie gave " & bFound
one.Cookie = spread.Cookie
two.Cookie = spread.Cookie
bOnOne = IsHeld(one, PREFIX & "cart") And IsHeld(one, PREFIX & "wishes")
bOnTwo = IsHeld(two, PREFIX & "cart") And IsHeld(two, PREFIX & "wishes")
WScript.Echo "cart and wishes are both on server " & IIf(bOnOne, "1", "") & IIf(bOnTwo, "2", "")
Check bOnOne Xor bOnTwo, "cart and wishes are on one and the same server"
spread.Delete PREFIX & "cart"
spread.Delete PREFIX & "wishes"
spread.Close
one.Close
two.Close

On Error Resume Next
Dim unopened
Set unopened = CreateObject("Harbinet.Distributed")
unopened.Noop
WScript.Echo "Noop on a distributed object that is not open: " & ErrText()
Check Err.Number = &H80040201 And Err.Source = "Harbinet.Distributed" And Err.Description = "Is not connecting.", _
    "Noop when not open: " & ErrText()
Err.Clear
On Error GoTo 0

' Whether a single-server object finds the name on its server.
Function IsHeld(server, sName)
    Dim vIgnored
    IsHeld = server.Get(sName, vIgnored)
End Function

Function IIf(bCondition, vTrue, vFalse)
    If bCondition Then IIf = vTrue Else IIf = vFalse
End Function

If nFailures = 0 Then
    WScript.Echo "ok - harbinet.vbs"
Else
    WScript.Quit nFailures
End If
