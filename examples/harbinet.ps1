# Harbinet from PowerShell: open, set, get, delete, the cookie, the distributed class and errors.
#
# Run it in PowerShell (Windows PowerShell 5.1 or PowerShell 7) once the DLL of its width
# is registered (the MSI registers both) and harbinet-server runs on both URLs. A 64-bit
# PowerShell loads C:\Program Files\Harbinet\harbinet.dll; "Windows PowerShell (x86)"
# (%WINDIR%\SysWOW64\WindowsPowerShell\v1.0\powershell.exe) loads the 32-bit
# C:\Program Files (x86)\Harbinet\harbinet.dll:
#
#   powershell -ExecutionPolicy Bypass -File harbinet.ps1 [server URL [second server URL]]
#
# The URLs default to http://127.0.0.1:8077/ and http://127.0.0.1:8078/. The script
# prints what each step did and ends with "ok - harbinet.ps1" when every step went as
# expected; otherwise it prints "not ok - ..." lines and exits with their count.
param(
    [string]$Server = "http://127.0.0.1:8077/",
    [string]$SecondServer = "http://127.0.0.1:8078/"
)

$ErrorActionPreference = "Stop"
$Prefix = "example.ps1."
$script:Failures = 0

function Check([bool]$Condition, [string]$What) {
    if (-not $Condition) {
        $script:Failures++
        Write-Output "not ok - $What"
    }
}

# PowerShell wraps a failing COM call in exceptions of its own; the COMException inside
# carries the HRESULT (ErrorCode), the source and the description (Message).
function Get-ComException($ErrorRecord) {
    $e = $ErrorRecord.Exception
    while ($null -ne $e -and -not ($e -is [System.Runtime.InteropServices.COMException])) {
        $e = $e.InnerException
    }
    return $e
}

function Format-ComException($e) {
    if ($null -eq $e) { return "no COM error" }
    return "0x{0:X8} from ""{1}"": {2}" -f $e.ErrorCode, $e.Source, $e.Message
}

# Runs the block and gives back the COMException it raised, or $null.
function Invoke-Attempt([scriptblock]$Block) {
    try {
        & $Block | Out-Null
        return $null
    } catch {
        return Get-ComException $_
    }
}

function Test-Held($Object, [string]$Name) {
    $ignored = $null
    return [bool]$Object.Get($Name, [ref]$ignored)
}

try {
    # ---- One server ----------------------------------------------------------------
    $cache = New-Object -ComObject Harbinet
    $cache.Open($Server)
    Write-Output "Opened $Server"

    $stored = $cache.Set("${Prefix}greeting", "Hello from PowerShell", 60)
    Write-Output "Set greeting (kept 60 s): stored $stored"
    Check ($stored -eq $true) "Set greeting stored $stored"

    # Get hands the value back through its second argument: pass it with [ref].
    $value = $null
    $found = $cache.Get("${Prefix}greeting", [ref]$value)
    Write-Output "Get greeting: found $found, value ""$value"""
    Check ($found -and $value -eq "Hello from PowerShell") "Get greeting gave $found ""$value"""

    # A missing name is no error: the found flag says so and the variable keeps its value.
    $value = "unchanged"
    $found = $cache.Get("${Prefix}never stored", [ref]$value)
    Write-Output "Get never stored: found $found, variable still ""$value"""
    Check (-not $found -and $value -eq "unchanged") "a missing name gave $found ""$value"""

    # Item, the default member, stores (without expiry) and fetches; values keep their type.
    $cache.Item("${Prefix}answer") = 42
    $cache.Item("${Prefix}when") = [datetime]"2026-12-08"
    $answer = $cache.Item("${Prefix}answer")
    $when = $cache.Item("${Prefix}when")
    Write-Output "Item(answer) = $answer ($($answer.GetType().Name)), Item(when) = $($when.ToString('yyyy-MM-dd')) ($($when.GetType().Name))"
    Check ($answer -eq 42 -and $answer -is [int]) "Item(answer) gave $answer"
    Check ($when -is [datetime]) "Item(when) gave a $($when.GetType().Name)"

    $cache.Delete("${Prefix}greeting")
    $found = Test-Held $cache "${Prefix}greeting"
    Write-Output "Deleted greeting; Get: found $found"
    Check (-not $found) "Get after Delete found it"
    $cache.Delete("${Prefix}answer")
    $cache.Delete("${Prefix}when")

    # ---- The cookie ----------------------------------------------------------------
    # A cookie is the space the server keeps names in: another client without it does
    # not see them. An empty string asks for a fresh one (32 hexadecimal digits).
    $cache.Cookie = ""
    $cookie = $cache.Cookie
    Write-Output "Fresh cookie: $cookie"
    Check ($cookie -match '^[0-9a-f]{32}$') "a fresh cookie has 32 digits: ""$cookie"""
    $cache.Set("${Prefix}basket", "3 apples") | Out-Null

    $other = New-Object -ComObject Harbinet
    $other.Open($Server)
    $found = Test-Held $other "${Prefix}basket"
    Write-Output "Another object without the cookie: basket found $found"
    Check (-not $found) "basket seen without its cookie"
    $other.Cookie = $cookie
    $found = Test-Held $other "${Prefix}basket"
    Write-Output "The same object with the cookie: basket found $found"
    Check $found "basket not found with its cookie"
    $cache.Delete("${Prefix}basket")
    $other.Close()

    # ---- Errors --------------------------------------------------------------------
    # Every failure is a COMException. A failed command closes the object: Open it
    # again before the next one.
    $e = Invoke-Attempt { $cache.Open($Server) }
    Write-Output "Open on an open object: $(Format-ComException $e)"
    Check ($null -ne $e -and $e.ErrorCode -eq 0x80040200 -and $e.Message -eq "Already connected.") "Open twice: $(Format-ComException $e)"

    $e = Invoke-Attempt { $cache.Item(5) }
    Write-Output "A number as a name: $(Format-ComException $e)"
    Check ($null -ne $e -and $e.ErrorCode -eq 0x80040300) "Item(5): $(Format-ComException $e)"

    $broken = New-Object -ComObject Harbinet
    $e = Invoke-Attempt { $broken.Open("http://127.0.0.1:8077") }
    Write-Output "Open without a path: $(Format-ComException $e)"
    Check ($null -ne $e -and $e.ErrorCode -eq 0x80040202) "Open without a path: $(Format-ComException $e)"

    $e = Invoke-Attempt { $ignored = $null; $broken.Get("${Prefix}greeting", [ref]$ignored) }
    Write-Output "Get on an object that is not open: $(Format-ComException $e)"
    Check ($null -ne $e -and $e.ErrorCode -eq 0x80040206 -and $e.Message -eq "HTTP error.") "Get when not open: $(Format-ComException $e)"

    $cache.Close()
    Write-Output "Closed; the cookie stays: $($cache.Cookie -eq $cookie)"
    Check ($cache.Cookie -eq $cookie) "the cookie after Close is ""$($cache.Cookie)"""

    # ---- Several servers -----------------------------------------------------------
    # Harbinet.Distributed is opened on a list of servers separated by ";". Each call
    # goes to one of them, chosen by the object's cookie or, without one, by the value's
    # name; connections are pooled and shared by every object opened on the same list.
    $servers = "$Server;$SecondServer"
    $spread = New-Object -ComObject Harbinet.Distributed
    $spread.Open($servers)
    Write-Output "Opened Harbinet.Distributed on $servers"

    $one = New-Object -ComObject Harbinet
    $one.Open($Server)
    $two = New-Object -ComObject Harbinet
    $two.Open($SecondServer)

    $items = [ordered]@{ colour = "blue"; size = 42; shape = "round"; weight = 1.5 }
    $onOne = 0
    $onTwo = 0
    foreach ($name in $items.Keys) {
        $stored = $spread.Set("$Prefix$name", $items[$name], 60)
        $value = $null
        $found = $spread.Get("$Prefix$name", [ref]$value)
        $isOnOne = Test-Held $one "$Prefix$name"
        $isOnTwo = Test-Held $two "$Prefix$name"
        if ($isOnOne) { $onOne++ }
        if ($isOnTwo) { $onTwo++ }
        $where = (@(if ($isOnOne) { "1" }; if ($isOnTwo) { "2" }) -join " and ")
        Write-Output "  $name = ${value}: stored $stored, found $found, on server $where"
        Check ($stored -and $found -and $value -eq $items[$name]) "$name through Harbinet.Distributed"
        Check ($isOnOne -ne $isOnTwo) "$name is on exactly one server"
    }
    Check ($onOne -gt 0 -and $onTwo -gt 0) "the names went to both servers ($onOne and $onTwo)"
    foreach ($name in $items.Keys) { $spread.Delete("$Prefix$name") }

    # With a cookie, every call of the object goes to the same server, whatever the name.
    $spread.Cookie = ""
    Write-Output "Distributed cookie: $($spread.Cookie)"
    $spread.Set("${Prefix}cart", "2 pears") | Out-Null
    $spread.Set("${Prefix}wishes", "a plum") | Out-Null
    $one.Cookie = $spread.Cookie
    $two.Cookie = $spread.Cookie
    $bothOnOne = (Test-Held $one "${Prefix}cart") -and (Test-Held $one "${Prefix}wishes")
    $bothOnTwo = (Test-Held $two "${Prefix}cart") -and (Test-Held $two "${Prefix}wishes")
    Write-Output "cart and wishes together on server 1: $bothOnOne, on server 2: $bothOnTwo"
    Check ($bothOnOne -ne $bothOnTwo) "cart and wishes are on one and the same server"
    $spread.Delete("${Prefix}cart")
    $spread.Delete("${Prefix}wishes")
    $spread.Close()
    $one.Close()
    $two.Close()

    $unopened = New-Object -ComObject Harbinet.Distributed
    $e = Invoke-Attempt { $unopened.Noop() }
    Write-Output "Noop on a distributed object that is not open: $(Format-ComException $e)"
    Check ($null -ne $e -and $e.ErrorCode -eq 0x80040201 -and $e.Message -eq "Is not connecting.") "Noop when not open: $(Format-ComException $e)"
} catch {
    Check $false "stopped by $($_.Exception.Message)"
}

if ($script:Failures -eq 0) {
    Write-Output "ok - harbinet.ps1"
}
exit $script:Failures
