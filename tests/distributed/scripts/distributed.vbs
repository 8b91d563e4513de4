' Harbinet.Distributed from VBScript over two real servers: values spread by name, read back from each server.
Option Explicit

Dim nFailures : nFailures = 0

Sub Ok(bCondition, sMessage)
    If Not bCondition Then
        nFailures = nFailures + 1
        WScript.Echo "not ok - " & sMessage
    End If
End Sub

' The two servers that hand out no cookies: values stay in the shared space.
Dim nPort : nPort = CLng(CreateObject("WScript.Shell").Environment("PROCESS")("HARBINET_DISTRIBUTED_PORT"))
Dim sFirst : sFirst = "http://127.0.0.1:" & (nPort + 1) & "/"
Dim sSecond : sSecond = "http://127.0.0.1:" & (nPort + 2) & "/"

Dim cache : Set cache = CreateObject("Harbinet.Distributed")
cache.Open sFirst & ";" & sSecond

' "a" is 97, "b" 98: one name per server.
Dim vValue, bFound
Ok cache.Set("a", "on the second", 60), "Set a"
Ok cache.Set("b", 42, 60), "Set b"
cache("ab") = "by the default member"
Ok cache("ab") = "by the default member", "Item ab: " & cache("ab")
bFound = cache.Get("b", vValue)
Ok bFound And vValue = 42 And VarType(vValue) = vbInteger, "Get b: " & bFound & " " & vValue & " " & VarType(vValue)

Function HeldBy(sUrl, sName)
    Dim single, v
    Set single = CreateObject("Harbinet")
    single.Open sUrl
    HeldBy = single.Get(sName, v)
    single.Close
End Function

Ok HeldBy(sSecond, "a") And Not HeldBy(sFirst, "a"), "a is on the second server only"
Ok HeldBy(sFirst, "b") And Not HeldBy(sSecond, "b"), "b is on the first server only"
Ok HeldBy(sSecond, "ab") And Not HeldBy(sFirst, "ab"), "ab (195) is on the second server only"

cache.Delete "a"
Ok Not cache.Get("a", vValue), "a is gone"
cache.Noop

' A cookie keeps every name on one server: "x" is 120, so the first.
cache.Cookie = "x"
Ok cache.Set("a", 1), "Set a with a cookie"
Ok cache.Cookie = "x", "the cookie stays: " & cache.Cookie

On Error Resume Next
cache.Open sFirst
Ok Err.Number = &H80040200 And Err.Source = "Harbinet.Distributed" And Err.Description = "Already connected.", _
   "second Open: " & Hex(Err.Number) & " " & Err.Source & " " & Err.Description
Err.Clear
cache.Close
cache.Noop
Ok Err.Number = &H80040201 And Err.Description = "Is not connecting.", "Noop when closed: " & Hex(Err.Number) & " " & Err.Description
Err.Clear
On Error GoTo 0

If nFailures = 0 Then WScript.Echo "ok - distributed.vbs"
WScript.Quit nFailures
