<%@ Language="VBScript" CodePage=65001 %>
<%
' Harbinet in a classic ASP page: open, set, get, delete, the cookie, the distributed class
' and errors, with a visit counter for each visitor.
'
' Run it on 64-bit Windows with IIS and its Classic ASP feature:
'   1. Register the DLL of the application pool's width from an administrator's prompt.
'      A pool with "Enable 32-Bit Applications" False runs 64-bit and loads the 64-bit DLL:
'        %WINDIR%\System32\regsvr32 "C:\Program Files\Harbinet\harbinet.dll"
'   2. A pool with "Enable 32-Bit Applications" True (needed when another component of
'      the site exists only in 32 bits) runs 32-bit and loads the 32-bit DLL:
'        %WINDIR%\SysWOW64\regsvr32 "C:\Program Files (x86)\Harbinet\harbinet.dll"
'      The MSI installs and registers both. Pools of either width share one cache.
'   3. Start harbinet-server on the two URLs, copy this page into the site and open
'      http://localhost/harbinet.asp?server=http://127.0.0.1:8077/&server2=http://127.0.0.1:8078/
'      (the parameters default to those two URLs).
' The page lists what each step did and ends with "ok - harbinet.asp" when every step went
' as expected, or with the "not ok - ..." lines of the steps that did not.
'
' Create the objects for each request with Server.CreateObject and let them go at its end;
' keep none in Session or Application: they belong to the thread that made them.
' Harbinet.Distributed keeps its connections in a pool of the worker process, shared by
' every page that opens the same server list, so opening one per request costs no
' connection once the pool holds some.
Option Explicit

Dim sServer1, sServer2
sServer1 = Request.QueryString("server")
sServer2 = Request.QueryString("server2")
If sServer1 = "" Then sServer1 = "http://127.0.0.1:8077/"
If sServer2 = "" Then sServer2 = "http://127.0.0.1:8078/"

Dim nFailures
nFailures = 0

Sub Say(sText)
    Response.Write "<li>" & Server.HTMLEncode(sText) & "</li>" & vbCrLf
End Sub

Sub Check(bCondition, sWhat)
    If Not bCondition Then
        nFailures = nFailures + 1
        Response.Write "<li class=""failed"">not ok - " & Server.HTMLEncode(sWhat) & "</li>" & vbCrLf
    End If
End Sub

Function ErrText()
    ErrText = "&H" & Hex(Err.Number) & " from """ & Err.Source & """: " & Err.Description
End Function

Function IsHeld(server, sName)
    Dim vIgnored
    IsHeld = server.Get(sName, vIgnored)
End Function

Const PREFIX = "example.asp."
%>
<!DOCTYPE html>
<html>
<head><meta charset="utf-8"><title>Harbinet from classic ASP</title>
<style>li.failed { color: #b00; }</style></head>
<body>
<h1>Harbinet from classic ASP</h1>
<ul>
<%
' A page reports its own failures instead of stopping with the server's error page.
On Error Resume Next

' ---- One server ---------------------------------------------------------------------------
Dim cache, bStored, bFound, vValue
Set cache = Server.CreateObject("Harbinet")
cache.Open sServer1
Check Err.Number = 0, "Open " & sServer1 & ": " & ErrText()
Err.Clear
Say "Opened " & sServer1

bStored = cache.Set(PREFIX & "greeting", "Hello from ASP", 60)
Say "Set greeting (kept 60 s): stored " & bStored
Check Err.Number = 0 And bStored, "Set greeting: " & ErrText()
Err.Clear

bFound = cache.Get(PREFIX & "greeting", vValue)
Say "Get greeting: found " & bFound & ", value """ & vValue & """"
Check Err.Number = 0 And bFound And vValue = "Hello from ASP", "Get greeting: " & ErrText()
Err.Clear

vValue = "unchanged"
bFound = cache.Get(PREFIX & "never stored", vValue)
Say "Get never stored: found " & bFound & ", variable still """ & vValue & """"
Check Err.Number = 0 And Not bFound And vValue = "unchanged", "Get of a missing name: " & ErrText()
Err.Clear

cache.Delete PREFIX & "greeting"
bFound = cache.Get(PREFIX & "greeting", vValue)
Say "Deleted greeting; Get: found " & bFound
Check Err.Number = 0 And Not bFound, "Delete: " & ErrText()
Err.Clear

' ---- The cookie ---------------------------------------------------------------------------
' Each visitor's counter lives under a cookie of its own; the ASP session id makes one.
' Another client without that cookie does not see the visitor's names.
cache.Cookie = "visitor-" & Session.SessionID
Dim nVisits
bFound = cache.Get(PREFIX & "visits", nVisits)
If Not bFound Then nVisits = 0
nVisits = nVisits + 1
cache.Set PREFIX & "visits", nVisits, 1800
Say "Your visits to this page (kept 30 minutes under the cookie " & cache.Cookie & "): " & nVisits
Check Err.Number = 0, "the visit counter: " & ErrText()
Err.Clear

Dim other
Set other = Server.CreateObject("Harbinet")
other.Open sServer1
bFound = IsHeld(other, PREFIX & "visits")
Say "Another object without the cookie: visits found " & bFound
Check Err.Number = 0 And Not bFound, "visits without the cookie: " & ErrText()
Err.Clear
other.Close

' ---- Errors -------------------------------------------------------------------------------
' A failed command closes the object: Open it again before the next one.
cache.Open sServer1
Say "Open on an open object: " & ErrText()
Check Err.Number = &H80040200 And Err.Source = "Harbinet" And Err.Description = "Already connected.", "Open twice: " & ErrText()
Err.Clear

Dim broken
Set broken = Server.CreateObject("Harbinet")
broken.Open "http://127.0.0.1:8077"
Say "Open without a path: " & ErrText()
Check Err.Number = &H80040202 And Err.Description = "Invalid URL.", "Open without a path: " & ErrText()
Err.Clear

bFound = broken.Get(PREFIX & "greeting", vValue)
Say "Get on an object that is not open: " & ErrText()
Check Err.Number = &H80040206 And Err.Description = "HTTP error.", "Get when not open: " & ErrText()
Err.Clear
cache.Close

' ---- Several servers ----------------------------------------------------------------------
' Harbinet.Distributed is opened on a list of servers separated by ";". Each call goes to
' one of them, chosen by the object's cookie or, without one, by the value's name.
Dim sServers, spread
sServers = sServer1 & ";" & sServer2
Set spread = Server.CreateObject("Harbinet.Distributed")
spread.Open sServers
Check Err.Number = 0, "Open Harbinet.Distributed: " & ErrText()
Err.Clear
Say "Opened Harbinet.Distributed on " & sServers

Dim aNames, i
aNames = Array("colour", "size", "shape", "weight")
For i = 0 To UBound(aNames)
    bStored = spread.Set(PREFIX & aNames(i), i + 1, 60)
    bFound = spread.Get(PREFIX & aNames(i), vValue)
    Say "  " & aNames(i) & " = " & vValue & ": stored " & bStored & ", found " & bFound
    Check Err.Number = 0 And bStored And bFound And vValue = i + 1, aNames(i) & " through Harbinet.Distributed: " & ErrText()
    Err.Clear
    spread.Delete PREFIX & aNames(i)
Next

' With the visitor's cookie, all the visitor's values go to one server.
spread.Cookie = "visitor-" & Session.SessionID
spread.Set PREFIX & "last page", Request.ServerVariables("URL"), 1800
bFound = spread.Get(PREFIX & "last page", vValue)
Say "Under the visitor's cookie: last page found " & bFound & ", """ & vValue & """"
Check Err.Number = 0 And bFound, "last page under the cookie: " & ErrText()
Err.Clear
spread.Close

Dim unopened
Set unopened = Server.CreateObject("Harbinet.Distributed")
unopened.Noop
Say "Noop on a distributed object that is not open: " & ErrText()
Check Err.Number = &H80040201 And Err.Source = "Harbinet.Distributed" And Err.Description = "Is not connecting.", _
    "Noop when not open: " & ErrText()
Err.Clear
On Error GoTo 0
%>
</ul>
<% If nFailures = 0 Then %>
<p>ok - harbinet.asp</p>
<% Else %>
<p><%= nFailures %> steps did not go as expected.</p>
<% End If %>
</body>
</html>
