' Values that VBScript makes, stored and fetched through Set, Get and the default member.
Option Explicit

Dim nFailures : nFailures = 0

Sub Ok(bCondition, sMessage)
    If Not bCondition Then
        nFailures = nFailures + 1
        WScript.Echo "not ok - " & sMessage
    End If
End Sub

' The type and the text of a value, for messages; arrays show their elements.
Function Show(v)
    Dim s, i
    If IsArray(v) Then
        s = "Array("
        For i = LBound(v) To UBound(v)
            If i > LBound(v) Then s = s & ", "
            s = s & Show(v(i))
        Next
        Show = s & ")"
    ElseIf IsNull(v) Then
        Show = "Null"
    ElseIf IsEmpty(v) Then
        Show = "Empty"
    Else
        Show = TypeName(v) & " " & CStr(v)
    End If
End Function

' The same type and value; arrays element by element, fetched arrays count from 0.
Function SameValue(vExpected, vActual)
    Dim i
    SameValue = False
    If VarType(vExpected) <> VarType(vActual) Then Exit Function
    If IsArray(vExpected) Then
        If LBound(vActual) <> 0 Then Exit Function
        If UBound(vActual) - LBound(vActual) <> UBound(vExpected) - LBound(vExpected) Then Exit Function
        For i = 0 To UBound(vActual)
            If Not SameValue(vExpected(LBound(vExpected) + i), vActual(i)) Then Exit Function
        Next
        SameValue = True
    ElseIf IsNull(vExpected) Or IsEmpty(vExpected) Then
        SameValue = True
    Else
        SameValue = (vExpected = vActual)
    End If
End Function

Dim sUrl : sUrl = CreateObject("WScript.Shell").Environment("PROCESS")("HARBINET_TEST_URL")
Ok sUrl <> "", "HARBINET_TEST_URL is set: " & sUrl
Dim h : Set h = CreateObject("Harbinet")
h.Open sUrl

' The names stored, to be deleted at the end.
Dim dictNames : Set dictNames = CreateObject("Scripting.Dictionary")
Sub Remember(sName)
    dictNames(sName) = True
End Sub

' Stores through Set, fetches through Get and through the default member.
Sub CheckRoundTrip(sLabel, vValue)
    Dim sName, bSet, bFound, vBack, vItem
    sName = "vbs." & sLabel
    Remember sName
    bSet = h.Set(sName, vValue)
    Ok bSet = True, sLabel & ": Set gave " & Show(bSet)
    bFound = h.Get(sName, vBack)
    Ok bFound = True, sLabel & ": Get gave " & Show(bFound)
    Ok SameValue(vValue, vBack), sLabel & ": Get fetched " & Show(vBack) & ", stored " & Show(vValue)
    vItem = h(sName)
    Ok SameValue(vValue, vItem), sLabel & ": h(name) fetched " & Show(vItem)
End Sub

CheckRoundTrip "string", "Hello, world"
CheckRoundTrip "empty string", ""
CheckRoundTrip "accented string", "Gr" & Chr(252) & Chr(223) & "e " & Chr(128)
CheckRoundTrip "long string", String(50000, "x")
CheckRoundTrip "integer", 42
CheckRoundTrip "long", 2147483647
CheckRoundTrip "negative long", CLng(-100000)
CheckRoundTrip "byte", CByte(200)
CheckRoundTrip "single", CSng(1.5)
CheckRoundTrip "double", 3.14159265358979
CheckRoundTrip "date", #2024-01-15 10:30:00#
CheckRoundTrip "now", Now
CheckRoundTrip "currency", CCur(1234.5678)
CheckRoundTrip "negative currency", CCur(-922337203685) - CCur(0.5807)
CheckRoundTrip "true", True
CheckRoundTrip "false", False
CheckRoundTrip "empty", Empty
CheckRoundTrip "null", Null
CheckRoundTrip "array", Array(1, "two", 3.5, True, Null, Empty, CCur(7))
CheckRoundTrip "empty array", Array()
CheckRoundTrip "nested array", Array(1, Array("a", Array(#2001-02-03#, False)), Array())

' A fixed-size array reaches the component by reference, which has no body form; a
' copy of it is an ordinary array.
Dim aFixed(2)
aFixed(0) = "fixed" : aFixed(1) = 2 : aFixed(2) = Array(3)
On Error Resume Next
h.Set "vbs.fixed array", aFixed
Ok Err.Number = &H80040301, "Set of a fixed array raised " & Hex(Err.Number)
Ok Err.Source = "Harbinet", "Set of a fixed array named source " & Err.Source
Ok Err.Description = "Invalid value type.", "Set of a fixed array said " & Err.Description
Err.Clear
On Error GoTo 0
h.Open sUrl
Dim aCopy : aCopy = aFixed
CheckRoundTrip "fixed array copy", aCopy

' The default member stores as well, with a literal name and with a variable.
h("vbs.item") = "by default member"
Remember "vbs.item"
Dim vItem : vItem = h("vbs.item")
Ok vItem = "by default member", "h(""vbs.item"") fetched " & Show(vItem)
Dim sKey : sKey = "vbs.item key"
Remember sKey
h(sKey) = CCur(5.25)
vItem = h(sKey)
Ok SameValue(CCur(5.25), vItem), "h(sKey) fetched " & Show(vItem)

' A missing value: Get gives False and leaves the variable alone.
Dim vKeep : vKeep = "unchanged"
Dim bFound : bFound = h.Get("vbs.never stored", vKeep)
Ok bFound = False, "Get of a missing value gave " & Show(bFound)
Ok vKeep = "unchanged", "Get of a missing value left " & Show(vKeep)
Ok IsEmpty(h("vbs.never stored")), "h(missing) gave " & Show(h("vbs.never stored"))

' Set with a negative timeout stores nothing.
Dim vSet : vSet = h.Set("vbs.not stored", 1, -1)
Ok h.Get("vbs.not stored", vKeep) = False, "a negative timeout stored the value"

' A deleted element of an array reads back Empty, and the array is still found.
Remember "vbs.holes"
Ok h.Set("vbs.holes", Array(10, 20, 30)), "Set of vbs.holes"
h.Delete "vbs.holes(1)"
Dim vHoles
Ok h.Get("vbs.holes", vHoles), "Get of vbs.holes with a deleted element"
Ok SameValue(Array(10, Empty, 30), vHoles), "vbs.holes fetched " & Show(vHoles)

' Errors come with the component's number, source and text.
On Error Resume Next
h(5) = "number name"
Ok Err.Number = &H80040300, "h(5) = ... raised " & Hex(Err.Number)
Ok Err.Source = "Harbinet", "h(5) = ... named source " & Err.Source
Ok Err.Description = "Invalid name type.", "h(5) = ... said " & Err.Description
Err.Clear
vItem = h(5)
Ok Err.Number = &H80040300, "h(5) raised " & Hex(Err.Number)
Err.Clear
h.Set "vbs.object", h
Ok Err.Number = &H80040209, "Set of an object that is no stream raised " & Hex(Err.Number)
Ok Err.Description = "IStream required.", "Set of an object that is no stream said " & Err.Description
Err.Clear
h.Open sUrl
h.Set "vbs.bad" & vbCrLf & "name", 1
Ok Err.Number = &H80070057, "a name with a line break raised " & Hex(Err.Number)
Ok Err.Description = "Invalid name.", "a name with a line break said " & Err.Description
Err.Clear
On Error GoTo 0

Dim sName
For Each sName In dictNames.Keys
    h.Delete sName
Next
h.Delete "vbs.holes(0)"
h.Delete "vbs.holes(2)"
h.Close

If nFailures = 0 Then WScript.Echo "ok - values.vbs"
WScript.Quit nFailures
