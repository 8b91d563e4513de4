' Both classes created by ProgID from the installed module; with a server URL, a value
' stored through one host is read back through the other, whatever their widths.
' Usage: create_both.vbs [URL store|check TEXT]
Option Explicit

Dim nFailures
nFailures = 0
Sub Ok(bCondition, sMessage)
    If Not bCondition Then
        WScript.Echo "not ok - " & sMessage
        nFailures = nFailures + 1
    End If
End Sub

' The object's type name comes through the module's own dispatch frame: proof that the
' module behind the ProgID was loaded and runs.
Dim sProgId, obj, value
On Error Resume Next
For Each sProgId In Array("Harbinet", "Harbinet.Distributed")
    Err.Clear
    Set obj = Nothing
    Set obj = CreateObject(sProgId)
    Ok Err.Number = 0, "CreateObject(""" & sProgId & """) raised " & Hex(Err.Number) & " " & Err.Description
    Ok TypeName(obj) = "IHarbinet", sProgId & ": type name """ & TypeName(obj) & """"
    If WScript.Arguments.Count = 3 Then
        obj.Open WScript.Arguments(0)
        If WScript.Arguments(1) = "store" Then obj.Set "msi." & sProgId, WScript.Arguments(2)
        If WScript.Arguments(1) = "check" Then Ok obj.Get("msi." & sProgId, value) And value = WScript.Arguments(2), sProgId & ": read """ & value & """"
        Ok Err.Number = 0, sProgId & ": raised " & Hex(Err.Number) & " " & Err.Description
    End If
Next
On Error GoTo 0

If nFailures = 0 Then WScript.Echo "ok - create_both.vbs"
WScript.Quit nFailures
