' One cache for hosts of both widths: a 64-bit host stores values, a 32-bit host reads
' them back (or the other way round). Each host loads the harbinet.dll of its own width:
' the 64-bit cscript in System32 the 64-bit module, the 32-bit cscript in SysWOW64 the
' 32-bit one. Both send the same bytes, so either reads what the other stored.
' Office works the same way: VBA in 32-bit Office loads the 32-bit DLL, in 64-bit Office
' the 64-bit one, with the same CreateObject("Harbinet") in both; so does IIS, whose
' application pools with "Enable 32-bit applications" run 32-bit.
' Usage: cscript //nologo widths.vbs <server URL> store|show
Option Explicit

Dim sUrl, sAction, sWidth, cache
sUrl = WScript.Arguments(0)
sAction = WScript.Arguments(1)
' A 32-bit process on 64-bit Windows sees x86 here.
If CreateObject("WScript.Shell").Environment("Process")("PROCESSOR_ARCHITECTURE") = "x86" Then
    sWidth = "32-bit"
Else
    sWidth = "64-bit"
End If

Set cache = CreateObject("Harbinet")
cache.Open sUrl
If sAction = "store" Then
    cache.Set "widths.text", "stored by a " & sWidth & " host"
    cache.Set "widths.price", CCur("1234.5678")
    cache.Set "widths.when", DateSerial(2026, 12, 9) + TimeSerial(18, 0, 0)
    cache.Set "widths.list", Array("one", 2, 3.5, True, Null)
    WScript.Echo "The " & sWidth & " host stored widths.text, widths.price, widths.when and widths.list."
Else
    Dim sName, value, sText, i
    WScript.Echo "The " & sWidth & " host reads:"
    For Each sName In Array("widths.text", "widths.price", "widths.when", "widths.list")
        value = Empty
        If Not cache.Get(sName, value) Then
            sText = "not found"
        ElseIf IsArray(value) Then
            sText = "array:"
            For i = LBound(value) To UBound(value)
                If IsNull(value(i)) Then sText = sText & " Null" Else sText = sText & " " & CStr(value(i))
            Next
        Else
            sText = TypeName(value) & " " & CStr(value)
        End If
        WScript.Echo "  " & sName & ": " & sText
    Next
End If
cache.Close
